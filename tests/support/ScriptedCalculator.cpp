#include "ScriptedCalculator.h"

#include "WireBytes.h"

#include <string>

namespace {

constexpr int partNumberOffset = 12;

int partNumberOf(const LibusbDouble::Bytes& packet) {
    const std::string digits(packet.begin() + partNumberOffset,
                             packet.begin() + partNumberOffset + 4);
    return std::stoi(digits, nullptr, 16);
}

} // namespace

ScriptedCalculator::ScriptedCalculator()
    : connectAnswer(WireBytes::ack()), requestAnswer(WireBytes::ack()) {
    LibusbDouble::setResponder([this](const Bytes& packet) { receive(packet); });
}

ScriptedCalculator::~ScriptedCalculator() {
    LibusbDouble::setResponder(nullptr);
}

void ScriptedCalculator::answerConnectWith(Bytes answer) {
    connectAnswer = std::move(answer);
}

void ScriptedCalculator::answerRequestWith(Bytes answer) {
    requestAnswer = std::move(answer);
}

void ScriptedCalculator::answerPartWith(int partNumber, Bytes answer) {
    partAnswers[partNumber] = std::move(answer);
}

int ScriptedCalculator::partsReceived() const {
    return parts;
}

void ScriptedCalculator::receive(const Bytes& packet) {
    if (packet.size() < 6) {
        return;
    }
    Bytes answer;
    switch (packet[0]) {
    case 0x05:
        answer = connectAnswer;
        break;
    case 0x01:
        answer = requestAnswer;
        break;
    case 0x02: {
        ++parts;
        const auto scripted = partAnswers.find(partNumberOf(packet));
        answer = scripted == partAnswers.end() ? WireBytes::ack() : scripted->second;
        break;
    }
    default:
        return;
    }
    if (!answer.empty()) {
        LibusbDouble::queueIn({answer, 0});
    }
}
