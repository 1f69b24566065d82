// Partial windows, the XOR layer and the cache stream.
#include "package/CacheStream.h"
#include "package/CryptStream.h"
#include "package/MemoryStream.h"
#include "package/PackageFormat.h"
#include "package/PartialStream.h"
#include "TestStreams.h"

#include <gtest/gtest.h>

#include <string>

namespace kiv {
namespace {

TRef<TMemoryStream> Digits(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text += static_cast<char>('0' + i % 10);
    return test::MemoryWith(text);
}

TEST(PartialStream, WindowPastTheSourceEndIsRefused) {
    auto source = Digits(12);
    try {
        MakeRef<TPartialStream>(source.Get(), false, 5, 10);
        FAIL() << "expected an error";
    } catch (const EStreamError& error) {
        EXPECT_STREQ(error.what(), "Insufficient Source Size");
    }
    EXPECT_THROW(MakeRef<TPartialStream>(source.Get(), false, -1, 2), EStreamError);
    EXPECT_THROW(MakeRef<TPartialStream>(source.Get(), false, 2, -1), EStreamError);
    EXPECT_THROW(MakeRef<TPartialStream>(source.Get(), false, 2, INT64_MAX), EStreamError);
    EXPECT_NO_THROW(MakeRef<TPartialStream>(source.Get(), false, 2, 10));
}

TEST(PartialStream, OwnedSourceIsReleasedEvenWhenCreationFails) {
    TMemoryStream* source = test::MemoryWith("abc").Detach();
    source->AddRef();
    EXPECT_THROW(MakeRef<TPartialStream>(source, true, 0, 4), EStreamError);
    EXPECT_EQ(source->RefCount(), 1) << "the window gave back the reference it took over";
    source->Release();
}

TEST(PartialStream, ReadsStopAtTheWindowEnd) {
    auto source = Digits(100);
    auto window = MakeRef<TPartialStream>(source.Get(), false, 20, 40);
    EXPECT_EQ(source->GetPosition(), 20);
    window->SetPosition(30);
    char buffer[100];
    EXPECT_EQ(window->Read(buffer, 100), 10);
    EXPECT_EQ(std::string(buffer, 10), "0123456789");
    EXPECT_EQ(window->GetPosition(), 40);
    window->SetPosition(50);
    EXPECT_EQ(window->Read(buffer, 100), 0) << "past the length reads nothing";
}

TEST(PartialStream, PositionAndSizeErrors) {
    auto source = Digits(100);
    auto window = MakeRef<TPartialStream>(source.Get(), false, 10, 20);
    try {
        window->SetPosition(-1);
        FAIL();
    } catch (const EStreamError& error) {
        EXPECT_STREQ(error.what(), "Incorrect Position");
    }
    try {
        window->SetSize(5);
        FAIL();
    } catch (const EStreamError& error) {
        EXPECT_STREQ(error.what(), "Stream Cannot be resized");
    }
    EXPECT_EQ(window->GetSize(), 20);
}

TEST(PartialStream, CallbackCutsReadsIntoSmallChunks) {
    auto source = Digits(5000);
    auto window = MakeRef<TPartialStream>(source.Get(), false, 100, 4000);
    EXPECT_EQ(window->ChunkSize(), 32768);
    int calls = 0;
    TLoadCallback callback{[](void* data) {
                               ++*static_cast<int*>(data);
                               return true;
                           },
                           &calls};
    window->SetCallback(callback, 100000);
    EXPECT_EQ(window->ChunkSize(), 256);
    std::string buffer(4000, '\0');
    EXPECT_EQ(window->Read(buffer.data(), 1000), 1000);
    EXPECT_EQ(calls, 4) << "1000 bytes in chunks of 256";
    EXPECT_EQ(buffer.substr(0, 10), "0123456789");
    window->SetCallback(callback, 10);
    EXPECT_EQ(window->ChunkSize(), 10);
    window->SetCallback(TLoadCallback{}, 10);
    EXPECT_EQ(window->ChunkSize(), 32768);
}

TEST(PartialStream, WritesAndCopiesStayInsideTheWindow) {
    auto target = MakeRef<TMemoryStream>();
    target->SetSize(20);
    auto window = MakeRef<TPartialStream>(target.Get(), false, 5, 10);
    EXPECT_EQ(window->Write("abcdefghijklmnop", 16), 10);
    EXPECT_EQ(target->GetSize(), 20);
    auto source = Digits(30);
    window->SetPosition(8);
    EXPECT_EQ(window->CopyFrom(*source, 30), 2);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(target->Memory()) + 5, 10), "abcdefgh01");
    EXPECT_EQ(target->Memory()[15], 0);
}

TEST(CryptStream, SourceAt33WithA32ByteKeyStartsWithKeyByte1) {
    const std::string key(kPackageKey);
    auto source = test::MemoryWith(std::string(100, '\0'));
    source->SetPosition(33);
    auto crypt = MakeRef<TCryptStream>(source.Get(), key, false);
    char buffer[40];
    ASSERT_EQ(crypt->Read(buffer, 40), 40);
    for (int i = 0; i < 40; ++i) EXPECT_EQ(buffer[i], key[static_cast<std::size_t>((33 + i) % 32)]) << i;
}

TEST(CryptStream, WritingScramblesACopyAndReadingUnscrambles) {
    auto target = MakeRef<TMemoryStream>();
    auto crypt = MakeRef<TCryptStream>(target.Get(), "key", false);
    std::string plain = "plain text that is longer than the key";
    const std::string original = plain;
    crypt->WriteBuffer(plain.data(), static_cast<std::int32_t>(plain.size()));
    EXPECT_EQ(plain, original) << "the caller's buffer is untouched";
    EXPECT_NE(std::string(reinterpret_cast<char*>(target->Memory()), plain.size()), plain);
    EXPECT_EQ(static_cast<char>(target->Memory()[4] ^ 'e'), plain[4]) << "byte 4 uses key byte 4 mod 3";
    crypt->SetPosition(0);
    EXPECT_EQ(crypt->ReadString8(static_cast<std::int64_t>(plain.size())), plain);
}

TEST(CryptStream, EmptyKeyIsAnAssertion) {
    auto source = MakeRef<TMemoryStream>();
    EXPECT_THROW(MakeRef<TCryptStream>(source.Get(), "", false), EAssertionFailed);
}

TEST(CacheStream, FillsInBlocksOnlyAsFarAsNeeded) {
    auto source = Digits(10000);
    auto cache = MakeRef<TCacheStream>(source.Get());
    EXPECT_EQ(cache->GetSize(), 10000);
    EXPECT_EQ(cache->Cached(), 0);
    cache->SetPosition(10);
    char buffer[20];
    ASSERT_EQ(cache->Read(buffer, 5), 5);
    EXPECT_EQ(std::string(buffer, 5), "01234");
    EXPECT_EQ(cache->Cached(), 4096);
    cache->SetPosition(4090);
    ASSERT_EQ(cache->Read(buffer, 10), 10);
    EXPECT_EQ(std::string(buffer, 10), "0123456789");
    EXPECT_EQ(cache->Cached(), 8192);
    cache->SetPosition(9995);
    EXPECT_EQ(cache->Read(buffer, 20), 5);
    EXPECT_EQ(cache->Cached(), 10000);
    cache->SetPosition(0);
    ASSERT_EQ(cache->Read(buffer, 3), 3);
    EXPECT_EQ(std::string(buffer, 3), "012");
    EXPECT_THROW(cache->SetSize(3), EStreamError);
}

} // namespace
} // namespace kiv
