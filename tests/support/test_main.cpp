#include <gtest/gtest.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "C.UTF-8");
    // Each test process gets its own user DSN file, so tests register data sources without
    // touching the user's files or each other's. unixODBC reads the variable at the first
    // connect of the process, so it is set before any test runs.
    const std::string odbcIni = (std::filesystem::temp_directory_path() /
                                 ("tovrik-odbc-" + std::to_string(getpid()) + ".ini"))
                                    .string();
    std::remove(odbcIni.c_str());
    setenv("ODBCINI", odbcIni.c_str(), 1);
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    std::remove(odbcIni.c_str());
    return result;
}
