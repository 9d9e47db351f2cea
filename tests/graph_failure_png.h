// For the graphics suites: keeps a picture of the pixels a failed test was looking at, as
// <build dir>/test-failures/<suite>.<test>.png, enlarged so single pixels can be seen.
#pragma once
#include "png_write.h"

#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

inline void save_failure_png(const uint32_t* pixels, int32_t width, int32_t height, int32_t zoom) {
    if (!::testing::Test::HasFailure() || !pixels) return;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::filesystem::path dir = std::filesystem::path(QUAVLO_BINARY_DIR) / "test-failures";
    std::error_code ignored;
    std::filesystem::create_directories(dir, ignored);
    const std::string file = (dir / (std::string(info->test_suite_name()) + "." + info->name() + ".png")).string();
    if (png_write_argb(file.c_str(), pixels, width, height, zoom)) printf("picture of the failure: %s\n", file.c_str());
}
