// Temporary directories and whole-file helpers for tests.
#include "test/temp_dir.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#endif

namespace fs = std::filesystem;

ScopedTempDir::ScopedTempDir() {
  std::random_device entropy;
  std::mt19937_64 rng(entropy());
  std::error_code error;
  const fs::path base = fs::temp_directory_path(error);
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    const fs::path candidate = base / ("halvorn-" + std::to_string(rng() % 1000000000000ULL));
    if (fs::create_directory(candidate, error)) path_ = candidate.string();
  }
  if (path_.empty()) {
    std::fprintf(stderr, "cannot create a temporary directory in %s: %s\n", base.string().c_str(),
                 error.message().c_str());
    std::abort();
  }
  fs::permissions(path_, fs::perms::owner_all, error);
}

ScopedTempDir::~ScopedTempDir() {
  std::error_code ignored;
  // Restore the write access that a test may have taken away, then remove.
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
  for (auto it = fs::recursive_directory_iterator(path_, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    const bool directory = it->is_directory(ignored);
    fs::permissions(it->path(), directory ? fs::perms::owner_all : fs::perms::owner_write,
                    fs::perm_options::add, ignored);
  }
  fs::remove_all(path_, ignored);
}

std::string ScopedTempDir::File(const std::string& name) const { return path_ + "/" + name; }

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out.flush());
}

bool FileExists(const std::string& path) {
  std::error_code error;
  return fs::exists(path, error);
}

#ifdef _WIN32

bool HoldFileWithoutSharing(const std::string& path, void*& handle) {
  handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  return handle != INVALID_HANDLE_VALUE;
}

void ReleaseHeldFile(void* handle) { CloseHandle(handle); }

#endif
