#include "CommonUtilities/algorithm_support/kiv_exception.h"

#include <cstdint>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "CommonUtilities/algorithm_support/text_buffer.h"
#include "CommonUtilities/algorithm_support/type_id_as_string.h"

// A global type, so that its run-time name is a plain length-prefixed name.
struct SampleType {};

namespace {

TEST(KIVExceptionTest, MessageJoinsIdentifierAndInformation)
{
    exc::KIVException error("Resize_120413_101010", " 3 4");
    EXPECT_STREQ(error.what(), "KIV error: Resize_120413_101010. 3 4");
    EXPECT_STREQ(exc::KIVException(nullptr, "info").what(), "KIV error: .info");
}

TEST(KIVExceptionTest, LongIdentifierIsCutInItsBufferButKeptInMessage)
{
    const std::string id(150, 'i');
    exc::KIVException error(id.c_str(), nullptr);
    EXPECT_EQ(std::strlen(error.GetId()), 99u);
    EXPECT_EQ(std::string(error.what()), "KIV error: " + id + ".");
}

TEST(KIVExceptionTest, LongInformationIsCutAt999AndMessageAt1099)
{
    const std::string info(2000, 'x');
    exc::KIVException error("id", info.c_str());
    EXPECT_EQ(std::strlen(error.GetAdditionalInfo()), 999u);
    EXPECT_EQ(std::strlen(error.what()), 1099u);
}

TEST(KIVExceptionTest, CopyKeepsItsOwnText)
{
    std::string copied;
    {
        exc::KIVException original("id_1", "details");
        exc::KIVException copy(original);
        original = exc::KIVException("other", "x");
        copied = copy.what();
    }
    EXPECT_EQ(copied, "KIV error: id_1.details");
}

TEST(KIVExceptionTest, GeneratorCollectsOperandsAndThrowsOnFailure)
{
    try {
        KIV_CHECK(1 == 2, "Check_010203_040506") << 5 << 0.25 << "text" << std::string("s");
        FAIL() << "expected an exception";
    } catch (const std::exception& error) {
        EXPECT_STREQ(error.what(), "KIV error: Check_010203_040506. 5 0.25000 text s");
    }
}

TEST(KIVExceptionTest, PassingCheckDoesNothing)
{
    EXPECT_NO_THROW(KIV_CHECK(true, "Never_000000_000000") << 1);
}

TEST(KIVExceptionTest, GeneratorWithoutIdentifierIsUndefined)
{
    exc::KIVExceptionGenerator generator(true);
    generator.InitFromId(nullptr);
    EXPECT_STREQ(generator.identifier, "undefined");
    generator.ok = false;
    generator << 5 << 0.25;
    EXPECT_STREQ(generator.additional_info, " 5 0.25000");
    generator.ok = true;  // no throw when it goes
}

TEST(KIVExceptionTest, GeneratorInformationStopsAt999Characters)
{
    exc::KIVExceptionGenerator generator(true);
    generator.InitFromId("id");
    generator.ok = false;
    const std::string chunk(300, 'a');
    for (int i = 0; i < 5; ++i)
        generator << chunk;
    EXPECT_EQ(std::strlen(generator.additional_info), 999u);
    generator.ok = true;
}

TEST(TextBufferTest, TruncatesAtCapacityMinusOne)
{
    char one[1];
    TB::BaseTextBuffer tiny(one, 1);
    tiny.AddText("abc", 3);
    EXPECT_EQ(tiny.GetLength(), 0);

    char ten[10];
    TB::BaseTextBuffer buffer(ten, 10);
    buffer.AddText("123456789", 9);
    buffer.AddText("more", 4);
    buffer << 5;
    EXPECT_STREQ(buffer.GetText(), "123456789");
}

TEST(TextBufferTest, FormatsNumbersAndPointers)
{
    char storage[64];
    TB::BaseTextBuffer buffer(storage, sizeof(storage));
    buffer << 42;
    buffer.AddText(" ", 1);
    buffer << 1.5;
    buffer.AddText(" ", 1);
    buffer << reinterpret_cast<const void*>(0x1A2B);
    EXPECT_STREQ(buffer.GetText(), "42 1.50 1A2B");
}

TEST(TextBufferTest, PointerKeepsEveryBitOfItsWidth)
{
    // An address with its top and bottom digits set, on 64-bit and on 32-bit pointers.
    static_assert(sizeof(void*) == 8 || sizeof(void*) == 4, "pointers are 64 or 32 bits wide");
    const auto address = static_cast<std::uintptr_t>(0xF23456789ABCDEF1ULL);
    char storage[64];
    TB::BaseTextBuffer buffer(storage, sizeof(storage));
    buffer << reinterpret_cast<const void*>(address);
    EXPECT_STREQ(buffer.GetText(), sizeof(void*) == 8 ? "F23456789ABCDEF1" : "9ABCDEF1");
}

TEST(TypeIdAsStringTest, RemovesLengthPrefixes)
{
    EXPECT_EQ(TypeIdAsString::RemoveMangling("13GaussBlurType"), "GaussBlurType");
    EXPECT_EQ(TypeIdAsString::RemoveMangling("3abc"), "abc");
    EXPECT_EQ(TypeIdAsString::RemoveMangling("N5stereo7MatrixE"), "N5stereo7MatrixE");
    EXPECT_EQ(TypeIdAsString::RemoveMangling("5"), "");
    EXPECT_EQ(TypeIdAsString::RemoveMangling(""), "");
}

TEST(TypeIdAsStringTest, ShortNameOfTypeAndObject)
{
    EXPECT_EQ(TypeIdAsString::ForType<SampleType>(), "SampleType");
    SampleType object;
    EXPECT_EQ(TypeIdAsString::ForObj(object), "SampleType");
}

}  // namespace
