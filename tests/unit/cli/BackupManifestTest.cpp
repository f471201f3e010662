// What a backup writes of itself: the SHA-256 of each file, and the manifest read back exactly,
// or refused with the line that is wrong.

#include "BackupManifest.h"
#include "Sha256.h"

#include <gtest/gtest.h>

namespace {

std::string digestOf(const std::string& bytes, size_t piece) {
    Sha256 sum;
    for (size_t at = 0; at < bytes.size(); at += piece) {
        sum.add(reinterpret_cast<const unsigned char*>(bytes.data()) + at,
                std::min(piece, bytes.size() - at));
    }
    return sum.hex();
}

// The published test vectors, added whole and in pieces that straddle blocks.
TEST(Sha256, GivesThePublishedDigests) {
    const std::pair<std::string, std::string> vectors[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& [bytes, digest] : vectors) {
        EXPECT_EQ(digestOf(bytes, 1 << 20), digest) << bytes.size();
        EXPECT_EQ(digestOf(bytes, 63), digest) << bytes.size();
    }
}

const std::string sha(64, 'a');
const std::string sound = "tolvane-backup\t1\n"
                          "calculator\t1-4.1\tlink\tVirtual calculator\tVC01\n"
                          "date\t2025-03-14T10:15:02+0100\n"
                          "storage\tfls0\n"
                          "file\tfls0\t3\t" +
                          sha +
                          "\tA.TXT\n"
                          "file\tfls0\t10\t" +
                          sha +
                          "\tMY NOTES/B.TXT\n"
                          "storage\tcrd0\n"
                          "end\t2\t13\n";

TEST(BackupManifest, ReadsBackWhatItWrites) {
    BackupManifest manifest;
    std::string problem;
    ASSERT_TRUE(BackupManifest::parse(sound, &manifest, &problem)) << problem;
    EXPECT_EQ(manifest.text(), sound);
    EXPECT_EQ(manifest.devices, (std::vector<std::string>{"fls0", "crd0"}));
    ASSERT_EQ(manifest.files.size(), 2u);
    EXPECT_EQ(manifest.files[1].path(), "fls0/MY NOTES/B.TXT");
    EXPECT_EQ(manifest.files[1].size, 10u);
    EXPECT_EQ(manifest.serial, "VC01");
}

TEST(BackupManifest, RefusesWhatIsDamagedNamingTheLine) {
    const auto replaced = [](const std::string& from, const std::string& to) {
        std::string text = sound;
        return text.replace(text.find(from), from.size(), to);
    };
    const std::pair<std::string, std::string> cases[] = {
        {"", "it is cut short: it has no end line"},
        {sound.substr(0, sound.size() - 1), "its last line has no end"},
        {sound.substr(0, sound.find("end")), "it has no end line"},
        {replaced("tolvane-backup\t1", "tolvane-backup\t2"), "line 1 is of format 2"},
        {replaced("\t3\t", "\t3x\t"), "line 5 gives no size in digits"},
        {replaced("\t3\t", "\t4\t"),
         "line 8 counts 2 files of 13 bytes, and the lines before it 2 of 14"},
        {replaced(sha + "\tA", "AB\tA"), "line 5 gives no SHA-256"},
        {replaced("A.TXT", "../A.TXT"), "line 5 '../A.TXT' is no calculator file"},
        {replaced("MY NOTES/B.TXT", "A.TXT"), "line 6 names fls0/A.TXT a second time"},
        {replaced("storage\tcrd0", "storage\tsd0"), "line 7 names the storage device 'sd0'"},
        {replaced("storage\tfls0\n", ""), "line 4 is a file of fls0 outside its storage's lines"},
        {replaced("date", "data"), "line 3 is no record"},
        {sound + "storage\tfls0\n", "line 9 comes after the end line"},
    };
    for (const auto& [text, expected] : cases) {
        BackupManifest manifest;
        std::string problem;
        EXPECT_FALSE(BackupManifest::parse(text, &manifest, &problem)) << expected;
        EXPECT_NE(problem.find(expected), std::string::npos) << problem;
    }
}

} // namespace
