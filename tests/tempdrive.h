#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

// A fresh temporary directory mapped as a drive through VARNELLO_DRIVE_<letter> for as
// long as the object lives. Files are read and written as raw bytes.
class TempDrive {
public:
    explicit TempDrive(char letter = 'C') : letter_(letter)
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "varnello-XXXXXX").string();
        dir_ = mkdtemp(pattern.data());
        setenv(variable().c_str(), dir_.c_str(), 1);
    }
    ~TempDrive()
    {
        unsetenv(variable().c_str());
        std::error_code ignored;
        std::filesystem::permissions(dir_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(dir_, ignored);
    }
    TempDrive(const TempDrive&) = delete;
    TempDrive& operator=(const TempDrive&) = delete;

    const std::string& dir() const { return dir_; }
    std::string hostPath(const std::string& name) const { return dir_ + "/" + name; }
    // "C:\name", the form the program passes to the platform layer.
    std::string dosPath(const std::string& name = "") const
    {
        return std::string(1, letter_) + ":\\" + name;
    }

    void write(const std::string& name, const std::string& bytes) const
    {
        std::ofstream(hostPath(name), std::ios::binary | std::ios::trunc) << bytes;
    }
    std::string read(const std::string& name) const
    {
        std::ifstream in(hostPath(name), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

private:
    std::string variable() const { return std::string("VARNELLO_DRIVE_") + letter_; }

    char letter_;
    std::string dir_;
};
