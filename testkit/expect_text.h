// Checks of messages: each part the text must contain, all reported at once.
#pragma once

#include <gtest/gtest.h>

#include <string>

#define EXPECT_MENTIONS(message, ...)                                                 \
    do {                                                                              \
        std::string m_ = (message);                                                   \
        for (const char* part : {__VA_ARGS__}) {                                      \
            EXPECT_NE(m_.find(part), std::string::npos) << m_ << "\nlacks: " << part; \
        }                                                                             \
    } while (0)
