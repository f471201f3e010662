#include "ScsiDouble.h"

#include "LibusbDouble.h"
#include "ScsiGeneric.h"

#include <algorithm>
#include <cerrno>
#include <deque>

namespace {

ScsiDouble::Answer idleAnswer;
std::deque<ScsiDouble::Answer> answers;
std::vector<ScsiDouble::Sent> commands;
int openError = 0;

} // namespace

void ScsiDouble::reset(Answer idle, int error) {
    idleAnswer = std::move(idle);
    answers.clear();
    commands.clear();
    openError = error;
}

void ScsiDouble::script(const std::vector<Answer>& more) {
    answers.insert(answers.end(), more.begin(), more.end());
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
    const bool in = command->direction == ScsiCommand::in;
    const bool out = command->direction == ScsiCommand::out;
    commands.push_back({{command->block, command->block + command->blockSize},
                        out ? ScsiDouble::Bytes(command->data, command->data + command->dataSize)
                            : ScsiDouble::Bytes(),
                        in ? command->dataSize : 0,
                        LibusbDouble::now()});
    const ScsiDouble::Answer answer = answers.empty() ? idleAnswer : answers.front();
    answers.erase(answers.begin(), answers.begin() + (answers.empty() ? 0 : 1));
    LibusbDouble::advanceClock(answer.takesMs);
    command->error = answer.error;
    command->status = answer.status;
    command->hostStatus = answer.hostStatus;
    command->driverStatus = answer.driverStatus;
    command->moved = in    ? std::min(command->dataSize, static_cast<int>(answer.data.size()))
                     : out ? command->dataSize
                           : 0;
    std::copy_n(answer.data.begin(), in ? command->moved : 0, command->data);
    // The length a device claims is told as it is, even beyond the room for it.
    command->senseSize = static_cast<int>(answer.sense.size());
    std::copy_n(answer.sense.begin(), std::min(command->senseCapacity, command->senseSize),
                command->sense);
    return answer.error != 0;
}
