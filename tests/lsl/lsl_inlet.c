/*
 * An LSL inlet in a process of its own, for the tests and the benchmark:
 * finds a headset's streams by source_id, prints their metadata, then pulls
 * samples and markers and prints them, exactly as received.
 *
 *   voq-lsl-inlet SOURCE_ID [--samples N] [--seconds S] [--values] [--latency]
 *
 * Stops after N samples (default: no limit) or S seconds of pulling
 * (default 30).  The inlet recovers a lost stream: an outlet that comes back
 * with the same source_id is picked up again.  It refuses to run without
 * LSLAPICFG naming a readable configuration file, so that it never looks for
 * streams beyond the configuration the tests give it (the loopback
 * interface).
 *
 * Output, one item a line (time stamps %.17g, values %.9g: exact):
 *   stream NAME|TYPE|CHANNELS|RATE|SOURCE_ID
 *   desc manufacturer|model|serial_number|reference
 *   channel LABEL|UNIT|TYPE|REFERENCE|X,Y,Z       (empty fields where absent)
 *   markers NAME|TYPE|SOURCE_ID
 *   ready                                          (both inlets connected)
 *   sample STAMP [V1 V2 ...]                       (values with --values)
 *   marker STAMP TEXT
 *   summary samples=N markers=M
 *   latency chunks=N median_ms=X p99_ms=Y max_ms=Z (with --latency)
 * The latency of a pull is the local clock when it returned minus the time
 * stamp of the newest sample it received.
 *
 * Exit status: 0 done, 1 a stream not found or N samples not reached,
 * 2 a usage error.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <lsl_c.h>

static void fail(const char *text) {
    fprintf(stderr, "voq-lsl-inlet: %s\n", text);
    exit(1);
}

static const char *text_or_empty(const char *text) { return text ? text : ""; }

static lsl_inlet open_by_source_id(const char *source_id, double timeout, lsl_streaminfo *full) {
    lsl_streaminfo found;
    int32_t ec = 0;
    if (lsl_resolve_byprop(&found, 1, "source_id", source_id, 1, timeout) < 1) {
        char text[300];
        snprintf(text, sizeof text, "no stream with source_id %s", source_id);
        fail(text);
    }
    lsl_inlet inlet = lsl_create_inlet(found, 360, 0, 1);
    lsl_destroy_streaminfo(found);
    if (!inlet) fail("cannot create an inlet");
    *full = lsl_get_fullinfo(inlet, timeout, &ec);
    if (ec != 0 || !*full) fail("cannot read the stream's description");
    lsl_open_stream(inlet, timeout, &ec);
    if (ec != 0) fail("cannot open the stream");
    return inlet;
}

static void print_description(lsl_streaminfo info) {
    lsl_xml_ptr desc = lsl_get_desc(info);
    printf("stream %s|%s|%d|%.17g|%s\n", lsl_get_name(info), lsl_get_type(info), lsl_get_channel_count(info),
           lsl_get_nominal_srate(info), lsl_get_source_id(info));
    printf("desc %s|%s|%s|%s\n", lsl_child_value_n(desc, "manufacturer"), lsl_child_value_n(desc, "model"),
           lsl_child_value_n(desc, "serial_number"), lsl_child_value_n(lsl_child(desc, "reference"), "label"));
    lsl_xml_ptr channel = lsl_child(lsl_child(desc, "channels"), "channel");
    for (; channel && !lsl_empty(channel); channel = lsl_next_sibling_n(channel, "channel")) {
        lsl_xml_ptr location = lsl_child(channel, "location");
        printf("channel %s|%s|%s|%s|", lsl_child_value_n(channel, "label"), lsl_child_value_n(channel, "unit"),
               lsl_child_value_n(channel, "type"), lsl_child_value_n(channel, "reference"));
        if (!lsl_empty(location))
            printf("%s,%s,%s", lsl_child_value_n(location, "X"), lsl_child_value_n(location, "Y"),
                   lsl_child_value_n(location, "Z"));
        printf("\n");
    }
}

/* Prints the markers waiting (after up to `timeout` seconds for the first). */
static void pull_markers(lsl_inlet markers, double timeout, long *count) {
    int32_t ec = 0;
    for (;;) {
        char *text = NULL;
        double stamp = lsl_pull_sample_str(markers, &text, 1, timeout, &ec);
        if (stamp > 0.0) {
            printf("marker %.17g %s\n", stamp, text_or_empty(text));
            ++*count;
        }
        if (text) lsl_destroy_string(text);
        if (!(stamp > 0.0)) return;
        timeout = 0.0;
    }
}

static int compare_doubles(const void *a, const void *b) {
    double x = *(const double *)a, y = *(const double *)b;
    return x < y ? -1 : x > y;
}

int main(int argc, char **argv) {
    const char *source_id = NULL;
    long wanted = -1;
    double seconds = 30.0;
    int values = 0, latency = 0;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--samples") == 0 && i + 1 < argc) wanted = atol(argv[++i]);
        else if (strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) seconds = atof(argv[++i]);
        else if (strcmp(argv[i], "--values") == 0) values = 1;
        else if (strcmp(argv[i], "--latency") == 0) latency = 1;
        else if (argv[i][0] != '-' && !source_id) source_id = argv[i];
        else {
            fprintf(stderr, "usage: voq-lsl-inlet SOURCE_ID [--samples N] [--seconds S] [--values] [--latency]\n");
            return 2;
        }
    }
    if (!source_id) {
        fprintf(stderr, "usage: voq-lsl-inlet SOURCE_ID [--samples N] [--seconds S] [--values] [--latency]\n");
        return 2;
    }
    /* liblsl falls back to its defaults (every interface) when the file
       named is missing. */
    const char *config = getenv("LSLAPICFG");
    if (!config || !*config || access(config, R_OK) != 0) {
        fprintf(stderr, "voq-lsl-inlet: LSLAPICFG must name a readable configuration file (the tests' loopback one)\n");
        return 2;
    }

    char markers_id[300];
    snprintf(markers_id, sizeof markers_id, "%s-markers", source_id);
    lsl_streaminfo info, markers_info;
    lsl_inlet markers = open_by_source_id(markers_id, 10.0, &markers_info);
    lsl_inlet samples = open_by_source_id(source_id, 10.0, &info);
    print_description(info);
    printf("markers %s|%s|%s\n", lsl_get_name(markers_info), lsl_get_type(markers_info),
           lsl_get_source_id(markers_info));
    printf("ready\n");
    fflush(stdout);

    const int channels = lsl_get_channel_count(info);
    float *sample = calloc((size_t)(channels > 0 ? channels : 1), sizeof(float));
    size_t capacity = 4096, pulls = 0;
    double *ages = latency ? malloc(capacity * sizeof(double)) : NULL;
    long received = 0, marked = 0;
    const double start = lsl_local_clock();
    int32_t ec = 0;
    while ((wanted < 0 || received < wanted) && lsl_local_clock() - start < seconds) {
        double stamp = lsl_pull_sample_f(samples, sample, channels, 0.1, &ec);
        double newest = 0.0;
        while (stamp > 0.0) {
            newest = stamp;
            ++received;
            printf("sample %.17g", stamp);
            if (values)
                for (int k = 0; k < channels; ++k) printf(" %.9g", sample[k]);
            printf("\n");
            if (wanted >= 0 && received >= wanted) break;
            stamp = lsl_pull_sample_f(samples, sample, channels, 0.0, &ec);
        }
        if (latency && newest > 0.0) {
            if (pulls == capacity) ages = realloc(ages, (capacity *= 2) * sizeof(double));
            ages[pulls++] = lsl_local_clock() - newest;
        }
        pull_markers(markers, 0.0, &marked);
    }
    /* Markers of the last samples may come a little after them. */
    const double until = lsl_local_clock() + 0.5;
    while (lsl_local_clock() < until) pull_markers(markers, 0.05, &marked);
    printf("summary samples=%ld markers=%ld\n", received, marked);
    if (latency && pulls > 0) {
        qsort(ages, pulls, sizeof(double), compare_doubles);
        printf("latency chunks=%zu median_ms=%.3f p99_ms=%.3f max_ms=%.3f\n", pulls, 1e3 * ages[pulls / 2],
               1e3 * ages[(size_t)(0.99 * (double)(pulls - 1))], 1e3 * ages[pulls - 1]);
    }
    fflush(stdout);
    lsl_destroy_inlet(samples);
    lsl_destroy_inlet(markers);
    lsl_destroy_streaminfo(info);
    lsl_destroy_streaminfo(markers_info);
    free(sample);
    free(ages);
    return wanted >= 0 && received < wanted ? 1 : 0;
}
