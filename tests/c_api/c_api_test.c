/* Compiled as C (not C++): proves the public header is valid C, and checks
 * the frame of the interface from a plain C caller. */
#include <stdio.h>
#include <string.h>

#include "VOQ_API.h"

static int failures = 0;
static int callbackCalls = 0;
static int lastLevel = 0;

#define CHECK(condition)                                                        \
    do {                                                                        \
        if (!(condition)) {                                                     \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            ++failures;                                                         \
        }                                                                       \
    } while (0)

static int OnError(const char *message, int level) {
    (void)message;
    ++callbackCalls;
    lastLevel = level;
    return 0;
}

int main(void) {
    const char *version;
    const char *error;
    const char *first;
    int i;
    VOQ_Headset h;

    CHECK(Load_VOQ_API() == 0);
    CHECK(VOQ_Error() == NULL);
    version = VOQ_GetAPIVersion();
    CHECK(version != NULL && strcmp(version, "1.18.2") == 0);

    VOQ_SetErrorCallback(OnError);
    VOQ_Headset_Connect(NULL, "x");
    error = VOQ_Error();
    CHECK(error != NULL && strcmp(error, "NULL Headset pointer") == 0);
    CHECK(callbackCalls == 1 && lastLevel == 1);
    CHECK(VOQ_Headset_GetSamplingRate(NULL) == -1.0);
    CHECK(VOQ_Headset_GetFilterMode(NULL) == -1);
    CHECK(VOQ_ClearError() != NULL);
    CHECK(VOQ_ClearError() == NULL);

    VOQ_SetErrorCallback(NULL);
    VOQ_Source_GetName(NULL);
    CHECK(callbackCalls == 3);
    CHECK(VOQ_Error() != NULL && strcmp(VOQ_Error(), "NULL Source pointer") == 0);
    VOQ_ClearError();

    first = VOQ_GetAPIVersion();
    for (i = 0; i < 31; ++i) CHECK(VOQ_GetAPIVersion() != first);
    CHECK(VOQ_GetAPIVersion() == first);

    CHECK(strcmp(VOQ_PythonString("a\n", 2, 0), "\"a\\n\"") == 0);
    CHECK(VOQ_Console(NULL, 5) == 5);

    h = VOQ_Headset_New(NULL);
    CHECK(h != NULL);
    if (h) {
        CHECK(VOQ_Headset_IsConnected(h) == 0);
        CHECK(VOQ_Headset_GetSensorCount(h) == 4294967295u);
        VOQ_Headset_Delete(h);
    }
    CHECK(VOQ_Error() == NULL);

    if (failures) {
        fprintf(stderr, "%d check(s) failed\n", failures);
        return 1;
    }
    printf("C interface checks passed\n");
    return 0;
}
