// Folder notation of the installation: "!lan", "!cfg", "!keys", "!tmp" are
// the folders lan/, cfg/, keys/ and tmp/ of the installation folder.
//
// The installation folder is $VLXDIR when set; otherwise the first folder
// holding a lan/ folder found from the running binary upwards; otherwise the
// install/ tree of the checkout the binary was built from.
#pragma once

#include <string>

// The installation folder, without trailing slash.
std::string vlx_install_dir();
// Forgets the cached installation folder (tests change VLXDIR).
void vlx_reset_install_dir();

// Resolves `folder` ("!name" or a plain folder, may be empty) plus `name`
// and an optional extension (without dot) into a path. "!tmp" is created
// on first use.
std::string resolve_path(const char* folder, const char* name, const char* ext);

// Folder for temporary files of the process: $TMPDIR when set, else "!tmp".
std::string vlx_tmp_dir();

// File name of the running program (no folder).
std::string vlx_program_name();

// Absolute form of `path` (from the current folder when relative) with
// ".", ".." and symbolic links of its existing part resolved; empty when
// it cannot be normalised.
std::string normalize_path(const std::string& path);
