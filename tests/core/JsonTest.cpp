#include <gtest/gtest.h>

#include <limits>

#include "core/Json.h"

TEST(JsonText, StringOfContainersIsPrettyAndParsesBack) {
  wd::Json v = {{"url", "a@b.c"}, {"n", 3}, {"list", {1, 2}}};
  auto text = wd::JSONString(v);
  ASSERT_TRUE(text);
  EXPECT_NE(text->find('\n'), std::string::npos);
  EXPECT_EQ(wd::JSONObject(*text), v);
}

TEST(JsonText, UnrepresentableValuesGiveNone) {
  EXPECT_FALSE(wd::JSONString(wd::Json(std::numeric_limits<double>::quiet_NaN())));
  EXPECT_FALSE(wd::JSONString(wd::Json{{"bad", std::string("\xff\xfe")}}));
  EXPECT_FALSE(wd::JSONString(wd::Json::array({std::numeric_limits<double>::infinity()})));
}

TEST(JsonText, ObjectNeedsArrayOrObjectAtTopLevel) {
  EXPECT_TRUE(wd::JSONObject("[1,2]"));
  EXPECT_TRUE(wd::JSONObject("{}"));
  EXPECT_FALSE(wd::JSONObject("\"text\""));
  EXPECT_FALSE(wd::JSONObject("12"));
  EXPECT_FALSE(wd::JSONObject("null"));
  EXPECT_FALSE(wd::JSONObject("{"));
  EXPECT_FALSE(wd::JSONObject(""));
  EXPECT_FALSE(wd::JSONObject(std::string(100000, '[')));
}
