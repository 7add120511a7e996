#include "vantelkit/formats/PngText.h"

#include <gtest/gtest.h>

#include "fixtures/ThumbnailFiles.h"

namespace vantelkit {
namespace {

PngError::Code codeOf(std::string_view bytes) {
  ErrorPtr error;
  EXPECT_FALSE(readPngText(bytes, &error));
  const auto* png = errorAs<PngError>(error);
  EXPECT_TRUE(png);
  return png ? png->code() : PngError::Code::notPng;
}

TEST(PngTextTest, ReadsTheThumbnailKeys) {
  const std::string png = fixtures::thumbnailPng({{"Thumb::URI", "file:///home/u/a%20b.jpg"},
                                                  {"Thumb::MTime", "1733043907"},
                                                  {"Thumb::URI", "second"},
                                                  {"Comment", "caf\xE9"}});
  ErrorPtr error;
  auto texts = readPngText(png, &error);
  ASSERT_TRUE(texts);
  EXPECT_FALSE(error);
  EXPECT_EQ(texts->at("Thumb::URI"), "file:///home/u/a%20b.jpg");
  EXPECT_EQ(texts->at("Thumb::MTime"), "1733043907");
  EXPECT_EQ(texts->at("Comment"), "caf\xC3\xA9");  // Latin-1 as UTF-8
  EXPECT_EQ(texts->size(), 3u);
  EXPECT_TRUE(readPngText(fixtures::thumbnailPng({}))->empty());
}

TEST(PngTextTest, CorruptOrTruncatedFilesAreErrors) {
  const std::string png = fixtures::thumbnailPng({{"Thumb::URI", "file:///a"}});
  EXPECT_EQ(codeOf(""), PngError::Code::notPng);
  EXPECT_EQ(codeOf("GIF89a........"), PngError::Code::notPng);
  for (std::size_t length : {std::size_t{8}, std::size_t{20}, std::size_t{33}, png.size() - 1})
    EXPECT_EQ(codeOf(png.substr(0, length)), PngError::Code::truncated) << length;
  std::string flipped = png;
  flipped[40] = static_cast<char>(flipped[40] ^ 1);  // inside the tEXt data
  EXPECT_EQ(codeOf(flipped), PngError::Code::checksumMismatch);
  std::string huge = png;
  huge[8] = '\xFF';  // IHDR's length
  EXPECT_EQ(codeOf(huge), PngError::Code::invalidChunk);
  std::string longChunk = png;
  longChunk[11] = '\x7F';  // IHDR's length past the end, below 2^31
  EXPECT_EQ(codeOf(longChunk), PngError::Code::truncated);
}

TEST(PngTextTest, ChecksumIsTheStandardCrc32) {
  EXPECT_EQ(pngChecksum("123456789"), 0xCBF43926u);
  EXPECT_EQ(pngChecksum("IEND"), 0xAE426082u);
}

}  // namespace
}  // namespace vantelkit
