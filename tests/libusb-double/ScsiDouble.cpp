#include "ScsiDouble.h"

#include "LibusbDouble.h"
#include "ScsiGeneric.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>

namespace {

ScsiDouble::Answer idleAnswer;
std::deque<ScsiDouble::Answer> answers;
std::vector<ScsiDouble::Sent> commands;
int openError = 0;

} // namespace

void ScsiDouble::reset(Answer idle) {
    idleAnswer = std::move(idle);
    answers.clear();
    commands.clear();
    openError = 0;
}

void ScsiDouble::script(const std::vector<Answer>& more) {
    answers.insert(answers.end(), more.begin(), more.end());
}

void ScsiDouble::refuseOpen(int error) {
    openError = error;
}

const std::vector<ScsiDouble::Sent>& ScsiDouble::sent() {
    return commands;
}

ScsiDouble::Bytes ScsiDouble::offer(int available, int activity) {
    Bytes answer(16, 0);
    answer[0] = 0xD0;
    answer[6] = static_cast<unsigned char>(available >> 8);
    answer[7] = static_cast<unsigned char>(available);
    answer[10] = static_cast<unsigned char>(activity >> 8);
    answer[11] = static_cast<unsigned char>(activity);
    return answer;
}

int ScsiGeneric::open(const char* /*node*/) {
    errno = openError;
    return openError == 0 ? 3 : -1;
}

void ScsiGeneric::close(int /*descriptor*/) {}

bool ScsiGeneric::execute(int /*descriptor*/, ScsiCommand* command, unsigned /*timeoutMs*/) {
    const bool out = command->direction == ScsiCommand::out;
    commands.push_back({ScsiDouble::Bytes(command->block, command->block + command->blockSize),
                        out ? ScsiDouble::Bytes(command->data, command->data + command->dataSize)
                            : ScsiDouble::Bytes(),
                        out ? 0 : command->dataSize, LibusbDouble::now()});
    ScsiDouble::Answer answer = idleAnswer;
    if (!answers.empty()) {
        answer = answers.front();
        answers.pop_front();
    }
    LibusbDouble::advanceClock(answer.takesMs);
    command->error = answer.error;
    command->status = answer.status;
    command->hostStatus = answer.hostStatus;
    command->driverStatus = answer.driverStatus;
    command->moved = out ? command->dataSize : 0;
    if (!out && command->direction == ScsiCommand::in) {
        command->moved = std::min(command->dataSize, static_cast<int>(answer.data.size()));
        std::copy_n(answer.data.begin(), command->moved, command->data);
    }
    command->senseSize = std::min(command->senseCapacity, static_cast<int>(answer.sense.size()));
    std::copy_n(answer.sense.begin(), command->senseSize, command->sense);
    return answer.error != 0;
}
