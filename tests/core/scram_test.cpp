// The ".scram" cipher and enciphered files read through the data-file layer.
#include <cstdlib>

#include "core/datafile.h"
#include "core/scram.h"
#include "tests/support/process.h"
#include "tests/support/temp_home.h"

static std::string enciphered(std::string text)
{
    scram_buffer((uint8_t *)text.data(), text.size());
    return text;
}

TEST(Scram, DecipheringInPiecesMatchesTheWholeFile)
{
    std::string plain;
    for (int i = 0; i < 1000; i++)
        plain += (char)(i * 7 + i / 13);
    std::string cipher = enciphered(plain);
    ASSERT_EQ(cipher.size(), plain.size());
    EXPECT_NE(cipher, plain);
    EXPECT_EQ(enciphered(cipher), plain);

    // Pieces that straddle the 64-byte keystream blocks in every way.
    for (size_t piece : {1u, 3u, 63u, 64u, 65u, 200u}) {
        SCOPED_TRACE(piece);
        std::string out = cipher;
        ScramStream stream;
        scram_begin(&stream);
        for (size_t at = 0; at < out.size(); at += piece)
            scram_apply(&stream, (uint8_t *)out.data() + at, std::min(piece, out.size() - at));
        EXPECT_EQ(out, plain);
    }
}

using ScramFileTest = TempHomeTest;

TEST_F(ScramFileTest, EncipheredFormsReadAsPlainText)
{
    std::string text = "6 4.0 0.0 0.0\n";
    ASSERT_TRUE(write_bytes(data + "one/terrain.hf.scram", enciphered(text)));
    EXPECT_EQ(read_data("@one/terrain.hf"), text);

    std::string plain = root + "/plain.txt";
    ASSERT_TRUE(write_bytes(plain, text));
    ASSERT_EQ(system(("gzip -n '" + plain + "'").c_str()), 0);
    std::string gz = read_file(plain + ".gz");
    ASSERT_TRUE(write_bytes(data + "two/terrain.hf.gz.scram", enciphered(gz)));
    EXPECT_EQ(read_data("@two/terrain.hf"), text);

    // Inside an archive the keystream starts at the member's first byte.
    ASSERT_TRUE(write_bytes(data + "a.saf", make_saf({{"first", "xyz"},
                                                       {"three.scram", enciphered(text)},
                                                       {"four.gz.scram", enciphered(gz)}})));
    data_reset();
    EXPECT_EQ(read_data("@three"), text);
    EXPECT_EQ(read_data("@four"), text);

    DataFile *file = data_open("@three", "rb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(data_read_int(file), 6);
    EXPECT_FALSE(data_seek(file, 0));
    data_close(file);
}

TEST_F(ScramFileTest, GarbageIsPlainGarbageOrARefusedGzipHeader)
{
    std::string garbage(300, '\x5a');
    ASSERT_TRUE(write_bytes(data + "g.scram", garbage));
    ASSERT_TRUE(write_bytes(data + "h.gz.scram", garbage));
    EXPECT_EQ(read_data("@g").size(), garbage.size());
    EXPECT_EQ(data_open("@h", "rb"), nullptr);
    EXPECT_EQ(data_open((data + "h").c_str(), "rb"), nullptr);
}
