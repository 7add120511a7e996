#include "vantelkit/applications/ImageWrapper.h"

#include <gtest/gtest.h>

#include "vantelkit/platform/ImageCodec.h"
#include "vantelkit/platform/Resources.h"

namespace vantelkit {
namespace {

std::vector<std::uint8_t> bytesOf(std::string_view text) { return {text.begin(), text.end()}; }

platform::RgbaPixels checkerboard(int width, int height) {
  platform::RgbaPixels pixels{width, height, {}};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const bool dark = (x + y) % 2 == 0;
      pixels.bytes.insert(pixels.bytes.end(), {dark ? std::uint8_t{10} : std::uint8_t{200}, 120, 30, 255});
    }
  }
  return pixels;
}

TEST(ImageWrapperTest, MakesAnImageOnlyFromBytesThatAreOne) {
  auto png = platform::ImageCodec::shared().encode(checkerboard(6, 4), "png");
  ASSERT_TRUE(png);
  ImageWrapper wrapper{std::span<const std::uint8_t>(*png)};
  ASSERT_TRUE(wrapper.image);
  ASSERT_EQ(wrapper.image->representations.size(), 1u);
  EXPECT_EQ(wrapper.image->representations[0].format, "png");
  EXPECT_EQ(wrapper.image->representations[0].pixelsWide, 6);
  EXPECT_EQ(wrapper.image->representations[0].data, *png);

  EXPECT_FALSE(ImageWrapper{std::span<const std::uint8_t>(bytesOf("not an image at all"))}.image);
  EXPECT_FALSE(ImageWrapper{std::span<const std::uint8_t>()}.image);
  // A PNG cut short is no image either.
  std::vector<std::uint8_t> truncated(png->begin(), png->begin() + static_cast<std::ptrdiff_t>(png->size() / 2));
  EXPECT_FALSE(ImageWrapper{std::span<const std::uint8_t>(truncated)}.image);
}

TEST(ImageWrapperTest, CodesTheImageAsTiffUnderOneKey) {
  auto png = platform::ImageCodec::shared().encode(checkerboard(5, 3), "png");
  ASSERT_TRUE(png);
  ImageWrapper wrapper{std::span<const std::uint8_t>(*png)};
  DictionaryEncoder encoder;
  auto encoded = encoder.encode(wrapper);
  ASSERT_TRUE(encoded);
  ASSERT_EQ(encoded->size(), 1u);
  ASSERT_EQ(encoded->count("image"), 1u);

  ::testing::internal::CaptureStdout();
  DictionaryDecoder decoder;
  auto decoded = decoder.decode<ImageWrapper>(*encoded);
  const std::string printed = ::testing::internal::GetCapturedStdout();
  ASSERT_TRUE(decoded);
  ASSERT_TRUE(decoded->image);
  ASSERT_EQ(decoded->image->representations.size(), 1u);
  const auto& tiff = decoded->image->representations[0];
  EXPECT_EQ(tiff.format, "tiff");
  EXPECT_EQ(tiff.pixelsWide, 5);
  auto pixels =
      platform::ImageCodec::shared().decode(std::string_view(reinterpret_cast<const char*>(tiff.data.data()), tiff.data.size()));
  ASSERT_TRUE(pixels);
  EXPECT_EQ(*pixels, checkerboard(5, 3));
  EXPECT_EQ(printed, "Decoding image wrapper, got " + std::to_string(tiff.data.size()) + " bytes\n");
}

TEST(ImageWrapperTest, AnAbsentImageCodesAsNoImage) {
  DictionaryEncoder encoder;
  auto encoded = encoder.encode(ImageWrapper{});
  ASSERT_TRUE(encoded) << encoded.error()->qualifiedDescription();
  EXPECT_EQ(encoded->count("image"), 0u);
  ::testing::internal::CaptureStdout();
  DictionaryDecoder decoder;
  auto decoded = decoder.decode<ImageWrapper>(*encoded);
  ::testing::internal::GetCapturedStdout();
  ASSERT_TRUE(decoded);
  EXPECT_FALSE(decoded->image);

  // An image with nothing that decodes has no TIFF form.
  platform::Image named;
  named.iconName = "folder";
  EXPECT_FALSE(ImageWrapper(named).tiffRepresentation());
}

}  // namespace
}  // namespace vantelkit
