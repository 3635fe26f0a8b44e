// A folder of the running test's own under the system's temporary folder: made empty when the
// test starts, removed with everything in it when the test ends. For GoogleTest tests (it is
// named after the running test and the process).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include <unistd.h>

namespace testsupport {

class ScratchDir {
public:
    ScratchDir()
    {
        const ::testing::TestInfo *test = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string("tunedeck-") + test->test_suite_name() + "-"
            + std::to_string(::getpid()) + "-" + test->name();
        // Parameterised tests are named "Prefix/Suite" and "Case/0": one folder, not a tree.
        std::replace(name.begin(), name.end(), '/', '_');
        m_path = std::filesystem::temp_directory_path() / name;
        std::filesystem::remove_all(m_path);
        std::filesystem::create_directories(m_path);
    }
    ~ScratchDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;

    const std::filesystem::path &path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

} // namespace testsupport
