#include "platform/type_identifiers.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(TypeIdentifiers, ConformanceFollowsTheHierarchy) {
  EXPECT_TRUE(UTTypeConformsTo("public.jpeg", kUTTypeImage));
  EXPECT_TRUE(UTTypeConformsTo("public.heic", kUTTypeImage));
  EXPECT_TRUE(UTTypeConformsTo("public.mpeg-4", kUTTypeMovie));
  EXPECT_TRUE(UTTypeConformsTo("com.apple.quicktime-movie", kUTTypeMovie));
  EXPECT_TRUE(UTTypeConformsTo("public.utf8-plain-text", kUTTypeText));
  EXPECT_TRUE(UTTypeConformsTo("public.file-url", kUTTypeURL));
  EXPECT_TRUE(UTTypeConformsTo("com.adobe.pdf", "public.data"));
  EXPECT_TRUE(UTTypeConformsTo("public.image", "public.image"));

  EXPECT_FALSE(UTTypeConformsTo("public.url", kUTTypeFileURL));
  EXPECT_FALSE(UTTypeConformsTo("public.image", "public.jpeg"));
  EXPECT_FALSE(UTTypeConformsTo("com.adobe.pdf", kUTTypeText));
  EXPECT_FALSE(UTTypeConformsTo("public.movie", kUTTypeImage));
  EXPECT_TRUE(UTTypeConformsTo("com.example.unknown", "com.example.unknown"));
  EXPECT_FALSE(UTTypeConformsTo("com.example.unknown", "public.data"));
}

}  // namespace
}  // namespace platform
