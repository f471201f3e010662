#pragma once

// The release both programs and the library announce in their banners.
class TolvaneVersion {
public:
    static constexpr const char* releaseDate = "09 april 2016";
    static constexpr int versionMajor = 0;
    static constexpr int versionMinor = 0;
    static constexpr int versionPatch = 1;

    static void printVersion();
};
