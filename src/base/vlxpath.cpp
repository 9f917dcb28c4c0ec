#include "base/vlxpath.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

std::string Installdir;

std::string find_install_dir() {
  const char* env = std::getenv("VLXDIR");
  if (env != nullptr && *env != '\0') return fs::path(env).lexically_normal().string();
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    for (fs::path dir = exe.parent_path(); !dir.empty(); dir = dir.parent_path()) {
      if (fs::is_directory(dir / "lan", ec)) return dir.string();
      if (fs::is_directory(dir / "install" / "lan", ec)) return (dir / "install").string();
      if (dir == dir.root_path()) break;
    }
  }
  return VLX_SOURCE_INSTALL;
}

}  // namespace

std::string vlx_install_dir() {
  if (Installdir.empty()) Installdir = find_install_dir();
  return Installdir;
}

void vlx_reset_install_dir() { Installdir.clear(); }

std::string resolve_path(const char* folder, const char* name, const char* ext) {
  std::string path;
  if (folder != nullptr && folder[0] == '!') {
    path = vlx_install_dir() + "/" + (folder + 1);
    if (std::string_view(folder) == "!tmp") ::mkdir(path.c_str(), 0777);
  } else if (folder != nullptr && folder[0] != '\0') {
    path = folder;
  }
  if (!path.empty() && path.back() != '/') path += '/';
  if (name != nullptr) path += name;
  if (ext != nullptr && ext[0] != '\0') {
    path += '.';
    path += ext;
  }
  return path;
}

std::string vlx_tmp_dir() {
  const char* env = std::getenv("TMPDIR");
  if (env != nullptr && *env != '\0') return env;
  std::string dir = resolve_path("!tmp", nullptr, nullptr);
  if (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

std::string vlx_program_name() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string("unknown") : exe.filename().string();
}

std::string normalize_path(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return "";
  // A path that exists resolves in one walk (the sandbox resolves every
  // program it checks); the general way below looks it up once more.
  if (char* real = ::realpath(path.c_str(), nullptr)) {
    std::string text = real;
    std::free(real);
    return text;
  }
  std::error_code ec;
  fs::path absolute = fs::absolute(path, ec);
  if (ec) return "";
  fs::path normal = fs::weakly_canonical(absolute, ec);
  if (ec) return "";
  std::string text = normal.lexically_normal().string();
  if (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}
