#include "vantelkit/platform/TextCase.h"

#include <gtest/gtest.h>

namespace vantelkit::platform {
namespace {

TEST(TextCaseTest, LowersASCIIAndUnicodeLetters) {
  EXPECT_EQ(lowercased("Org.Example.EditorPro"), "org.example.editorpro");
  EXPECT_EQ(lowercased("\xC3\x9C" "bersicht"), "\xC3\xBC" "bersicht");  // Ü
  EXPECT_EQ(lowercased(""), "");
}

TEST(TextCaseTest, InvalidUTF8KeepsItsBytesAndLowersOnlyASCII) {
  const std::string text("AB\xFF\xC3" "C", 5);
  EXPECT_EQ(lowercased(text), std::string("ab\xFF\xC3" "c", 5));
  const std::string withNul("A\0B", 3);
  EXPECT_EQ(lowercased(withNul), std::string("a\0b", 3));
}

}  // namespace
}  // namespace vantelkit::platform
