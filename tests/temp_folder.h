#pragma once
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/platform.h"

// A fresh folder under the temporary folder, removed with everything in it at the end.
struct TempFolder {
    TempFolder() {
        static int count = 0;
        path = std::filesystem::temp_directory_path() /
               (L"glim-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(++count));
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
    }
    ~TempFolder() {
        // The long form also reaches names that ordinary paths cannot, such as a trailing dot.
        std::error_code ignored;
        std::filesystem::remove_all(L"\\\\?\\" + path.wstring(), ignored);
    }
    std::filesystem::path Add(const wchar_t* name, const std::string& bytes) const {
        std::ofstream(path / name, std::ios::binary) << bytes;
        return path / name;
    }
    std::filesystem::path Copy(const std::filesystem::path& source, const wchar_t* name) const {
        std::filesystem::copy_file(source, path / name,
                                   std::filesystem::copy_options::overwrite_existing);
        return path / name;
    }
    std::filesystem::path path;
};
