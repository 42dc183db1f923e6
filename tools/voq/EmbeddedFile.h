// A file built into the program (see cmake/EmbedFiles.cmake).
#ifndef VOQ_TOOL_EMBEDDEDFILE_H
#define VOQ_TOOL_EMBEDDEDFILE_H

#include <cstddef>

namespace voqtool {

struct EmbeddedFile {
    const char* name;             // the file's name, without its directory
    const unsigned char* data;    // its bytes (followed by a 0 not counted in size)
    size_t size;
};

// The pages of `voq view` (tools/voq/web/), in the generated ViewFiles.cpp.
extern const EmbeddedFile kEmbeddedFiles[];
extern const size_t kEmbeddedFileCount;

}  // namespace voqtool

#endif
