#include "FileLoader.h"
#include "Log.h"
#include "StdoutCapture.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Loaded {
    int size;
    std::string bytes;
    std::string printed;
};

class FileLoaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tolvane-loader-XXXXXX";
        directory = mkdtemp(pattern);
        Log::setLoglevel(LOGLEVEL_INFO);
    }

    void TearDown() override { std::system(("rm -rf " + directory).c_str()); }

    std::string write(const std::string& name, const std::string& bytes) {
        const std::string path = directory + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    static Loaded load(const std::string& path) {
        StdoutCapture capture;
        const Buffer result = FileLoader::readFile(path.c_str());
        std::string printed = capture.finish();
        std::string bytes;
        if (result.getSize() > 0) {
            bytes.assign(reinterpret_cast<const char*>(result.getData()),
                         static_cast<size_t>(result.getSize()));
        }
        free(result.getData());
        return {result.getSize(), bytes, printed};
    }

    std::string directory;
};

TEST_F(FileLoaderTest, ReadsTheWholeFileByteForByte) {
    std::string content;
    for (int i = 0; i < 256; ++i) {
        content += static_cast<char>(i);
    }
    content += "\r\n\n\x1a";
    const Loaded loaded = load(write("all.bin", content));
    EXPECT_EQ(loaded.size, static_cast<int>(content.size()));
    EXPECT_EQ(loaded.bytes, content);
    EXPECT_EQ(loaded.printed, "[INFO]: File has been read !\n");

    EXPECT_EQ(load(write("one", "x")).bytes, "x");
}

TEST_F(FileLoaderTest, DebugLinesShowOnlyAtLevelThree) {
    Log::setLoglevel(LOGLEVEL_DEBUG);
    EXPECT_EQ(load(write("one", "x")).printed, "[DEBUG]: Openning the file ...\n"
                                               "[DEBUG]: Reading the file ...\n"
                                               "[INFO]: File has been read !\n");
}

TEST_F(FileLoaderTest, AnEmptyFileIsReadWithAWarning) {
    const Loaded loaded = load(write("empty", ""));
    EXPECT_EQ(loaded.size, 0);
    EXPECT_EQ(loaded.printed, "[WARNING]: File is empty !\n"
                              "[INFO]: Check the file ?\n"
                              "[INFO]: File has been read !\n");
}

TEST_F(FileLoaderTest, AMissingFileIsNamedBetweenQuotesAtAnyLevel) {
    const std::string missing = directory + "/nothing here";
    const Loaded loaded = load(missing);
    EXPECT_EQ(loaded.size, -1);
    EXPECT_EQ(loaded.printed, "[ERROR]: Can't open the file !\n"
                              "[INFO]: Check the name ?\n"
                              "Filename: \"" +
                                  missing + "\"\n");
    Log::setLoglevel(-1);
    EXPECT_EQ(load(missing).printed, "Filename: \"" + missing + "\"\n");
}

TEST_F(FileLoaderTest, WhatIsNotARegularFileIsRefused) {
    const Loaded folder = load(directory);
    EXPECT_EQ(folder.size, -1);
    EXPECT_EQ(folder.printed, "[ERROR]: Can't read file: not a regular file !\n");

    const Loaded device = load("/dev/zero");
    EXPECT_EQ(device.size, -1);
    EXPECT_EQ(device.printed, "[ERROR]: Can't read file: not a regular file !\n");
}

TEST_F(FileLoaderTest, AFileBeyondTheSizeModelIsRefusedBeforeAnyAllocation) {
    const std::string path = write("huge", "");
    ASSERT_EQ(truncate(path.c_str(), 2147483648LL), 0); // sparse: costs no disk
    const Loaded loaded = load(path);
    EXPECT_EQ(loaded.size, -1);
    EXPECT_EQ(loaded.printed, "[ERROR]: Can't read file: file too big !\n");
}

TEST_F(FileLoaderTest, APipeCannotBeSeeked) {
    const std::string fifo = directory + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // A writer keeps the open from blocking; it is gone before the seek.
    const pid_t writer = fork();
    if (writer == 0) {
        std::ofstream(fifo) << "data";
        _exit(0);
    }
    const Loaded loaded = load(fifo);
    waitpid(writer, nullptr, 0);
    EXPECT_EQ(loaded.size, -1);
    EXPECT_EQ(loaded.printed, "[ERROR]: Can't read file: fseek failure\n");
}

} // namespace
