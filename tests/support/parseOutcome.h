// What a parser of the form `bool parse(text, Value& out, std::string& error)`
// makes of a text a test says it must take, or must refuse.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace lctest {

// The value parsed; a failure of the test when `parse` refuses `text`.
template <class Value, class Parse, class Text>
Value expectParsed(Parse parse, const Text& text) {
    Value value;
    std::string error;
    EXPECT_TRUE(parse(text, value, error)) << text << ": " << error;
    return value;
}

// The error `parse` gives for `text`; a failure of the test when it takes it.
template <class Value, class Parse, class Text>
std::string expectRefused(Parse parse, const Text& text) {
    Value value;
    std::string error;
    EXPECT_FALSE(parse(text, value, error)) << text;
    return error;
}

}  // namespace lctest
