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

// Identifiers a share may carry, each with the kind it must be taken as, and
// one it must not.
TEST(TypeIdentifiers, CommonIdentifiersConformToTheirKind) {
  const struct {
    std::string_view type;
    std::string_view kind;
    std::string_view notKind;
  } cases[] = {
      {"public.rtf", kUTTypeText, kUTTypeImage},
      {"public.html", kUTTypeText, kUTTypeMovie},
      {"public.3gpp", kUTTypeMovie, kUTTypeImage},
      {"public.mpeg-2-transport-stream", kUTTypeMovie, kUTTypeText},
      {"public.heif", kUTTypeImage, kUTTypeMovie},
      {"public.webp", kUTTypeImage, kUTTypeMovie},
      {"com.compuserve.gif", kUTTypeImage, kUTTypeText},
      {"public.tiff", kUTTypeImage, kUTTypeText},
      {"public.mp3", "public.audio", kUTTypeMovie},
      {"public.zip-archive", "public.data", kUTTypeText},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(UTTypeIsDeclared(c.type)) << c.type;
    EXPECT_TRUE(UTTypeConformsTo(c.type, c.kind)) << c.type;
    EXPECT_TRUE(UTTypeConformsTo(c.type, "public.data")) << c.type;
    EXPECT_FALSE(UTTypeConformsTo(c.type, c.notKind)) << c.type;
  }
}

}  // namespace
}  // namespace platform
