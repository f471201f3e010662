#pragma once

#include "LibusbDouble.h"

#include <map>

// A calculator played over the libusb double. It answers each packet the host sends by
// the packet's type: connect requests, the file request and every file part are
// acknowledged unless a test scripts another answer; the disconnect signal and the lone
// zero byte are not answered.
class ScriptedCalculator {
public:
    using Bytes = LibusbDouble::Bytes;

    ScriptedCalculator();
    ~ScriptedCalculator();

    ScriptedCalculator(const ScriptedCalculator&) = delete;
    ScriptedCalculator& operator=(const ScriptedCalculator&) = delete;

    void answerConnectWith(Bytes answer);
    void answerRequestWith(Bytes answer);
    // An empty answer leaves the part unanswered.
    void answerPartWith(int partNumber, Bytes answer);

    int partsReceived() const;

private:
    void receive(const Bytes& packet);

    Bytes connectAnswer;
    Bytes requestAnswer;
    std::map<int, Bytes> partAnswers;
    int parts = 0;
};
