#include <gtest/gtest.h>

#include "messages/json_scan.h"

TEST(FindJsonValue, ReturnsPlainStringValue) {
  EXPECT_EQ(FindJsonValue("{\"native_feed\":\"QUJD\"}", "native_feed"), "QUJD");
  EXPECT_EQ(FindJsonValue("{\"ok\":true,\"count\":3,\"native_feed\":\"QUJD+/==\"}", "native_feed"),
            "QUJD+/==");
}

TEST(FindJsonValue, SkipsWhitespaceBeforeValueButKeepsItInside) {
  EXPECT_EQ(FindJsonValue("{\"k\": \r\n\t\"a b\t\"}", "k"), "a b\t");
  EXPECT_EQ(FindJsonValue("{\"k\" :\n 12}", "k"), "12");
}

TEST(FindJsonValue, EmptyAndEscapedStringsAreEmpty) {
  EXPECT_EQ(FindJsonValue("{\"k\":\"\"}", "k"), "");
  EXPECT_EQ(FindJsonValue("{\"k\":\"ab\\/cd\"}", "k"), "");
  EXPECT_EQ(FindJsonValue("{\"k\":\"\\u0041\"}", "k"), "");
  EXPECT_EQ(FindJsonValue("{\"k\":\"abc\\\"}", "k"), "");  // escaped closing quote
}

TEST(FindJsonValue, MissingPiecesYieldEmpty) {
  EXPECT_EQ(FindJsonValue("", "k"), "");
  EXPECT_EQ(FindJsonValue("{\"other\":1}", "k"), "");
  EXPECT_EQ(FindJsonValue("{\"k\"", "k"), "");        // key ends the text
  EXPECT_EQ(FindJsonValue("{\"k\" ", "k"), "");       // no colon
  EXPECT_EQ(FindJsonValue("{\"k\":", "k"), "");       // colon ends the text
  EXPECT_EQ(FindJsonValue("{\"k\": \r\n", "k"), "");  // only whitespace after the colon
  EXPECT_EQ(FindJsonValue("{\"k\":\"", "k"), "");     // lone opening quote at the end
  EXPECT_EQ(FindJsonValue("{\"k\":\"abc", "k"), "");  // no closing quote
}

TEST(FindJsonValue, UnquotedValuesRunToTerminator) {
  EXPECT_EQ(FindJsonValue("{\"n\":42 }", "n"), "42 ");
  EXPECT_EQ(FindJsonValue("{\"n\":42}", "n"), "42");
  EXPECT_EQ(FindJsonValue("{\"n\":42,\"m\":1}", "n"), "42");
  EXPECT_EQ(FindJsonValue("{\"a\":[1,2]}", "a"), "[1");
  EXPECT_EQ(FindJsonValue("{\"a\":[1]]", "a"), "[1]]");  // ']' does not end a value
  EXPECT_EQ(FindJsonValue("{\"t\":true\r\n}", "t"), "true");
  EXPECT_EQ(FindJsonValue("\"n\":12345", "n"), "12345");  // runs to the end of the text
}

TEST(FindJsonValue, KeyMustMatchWholeAndCase) {
  EXPECT_EQ(FindJsonValue("{\"native_feedx\":\"AAAA\"}", "native_feed"), "");
  EXPECT_EQ(FindJsonValue("{\"Native_feed\":\"AAAA\"}", "native_feed"), "");
  EXPECT_EQ(FindJsonValue("{\"native_feedx\":\"AAAA\",\"native_feed\":\"BBBB\"}", "native_feed"),
            "BBBB");
}

TEST(FindJsonValue, FirstTextualOccurrenceWins) {
  // The key text standing as a value: the scan runs on to the next colon.
  EXPECT_EQ(FindJsonValue("{\"x\":\"native_feed\",\"native_feed\":\"QUJD\"}", "native_feed"),
            "QUJD");
  EXPECT_EQ(FindJsonValue("{\"x\":\"native_feed\",\"y\":\"other\",\"native_feed\":\"QUJD\"}",
                          "native_feed"),
            "other");
  EXPECT_EQ(FindJsonValue("{\"inner\":{\"k\":\"deep\"},\"k\":\"top\"}", "k"), "deep");
}
