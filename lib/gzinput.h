// Input files that may be gzip-compressed: a name ending in ".gz" (after any
// extension: x.qtr.gz, x.sdf.gz, x.smi.gz) is decompressed into a temporary
// file, which the readers then see as the plain file.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

// True when the name ends in ".gz" (case ignored).
bool gz_name(std::string_view path);

// The name without a final ".gz": the name that tells the format.
std::string_view without_gz(std::string_view path);

// Opens a file for reading; a ".gz" file is decompressed first into a
// temporary file, rewound, which is gone once closed. A directory is refused
// (EISDIR). Returns null on failure, with errno set and, when `error` is
// given, the reason there (strerror, or zlib's word for corrupt data).
FILE *open_input_file(const char *path, std::string *error = nullptr);

// The rest of an open stream decompressed into a temporary file, rewound;
// null on failure as for open_input_file. `in` is left open.
FILE *gunzip_to_tmpfile(FILE *in, std::string *error = nullptr);
