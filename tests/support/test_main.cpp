#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "C.UTF-8");
#ifdef _WIN32
    // Under Wine the host's unixODBC reads ODBCINI from the environment the process started
    // with, so scripts/wine-run gives each test process its own file; nothing to do here.
    if (std::getenv("ODBCINI") == nullptr) {
        std::fprintf(stderr, "ODBCINI is not set: run the Windows tests through ctest\n");
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
#else
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
#endif
}
