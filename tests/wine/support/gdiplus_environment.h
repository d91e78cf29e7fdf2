#pragma once
// GDI+ started once for a whole test program, as start-up does for the product.
#include <gtest/gtest.h>

#include "ui/gdiplus_holders.h"

class GdiplusEnvironment : public testing::Environment {
public:
    void SetUp() override {
        Gdiplus::GdiplusStartupInput input;
        Gdiplus::GdiplusStartup(&token_, &input, nullptr);
    }
    void TearDown() override { Gdiplus::GdiplusShutdown(token_); }

private:
    ULONG_PTR token_ = 0;
};
