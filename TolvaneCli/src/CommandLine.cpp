#include "CommandLine.h"

namespace {

const OptionSpec* findLong(const std::vector<OptionSpec>& options, const std::string& name) {
    for (const OptionSpec& option : options) {
        if (name == option.longName) {
            return &option;
        }
    }
    return nullptr;
}

const OptionSpec* findShort(const std::vector<OptionSpec>& options, char name) {
    for (const OptionSpec& option : options) {
        if (option.shortName != '\0' && option.shortName == name) {
            return &option;
        }
    }
    return nullptr;
}

bool isOption(const std::string& word) {
    return word.size() > 1 && word[0] == '-';
}

} // namespace

bool CommandLine::parse(const std::vector<OptionSpec>& options,
                        const std::vector<std::string>& words) {
    for (size_t index = 0; index < words.size(); ++index) {
        const std::string& word = words[index];
        if (word == "--") {
            operandList.insert(operandList.end(), words.begin() + index + 1, words.end());
            return true;
        }
        const bool taken = !isOption(word)            ? (operandList.push_back(word), true)
                           : word.rfind("--", 0) == 0 ? takeLong(options, words, index)
                                                      : takeShorts(options, words, index);
        if (!taken) {
            return false;
        }
    }
    return true;
}

bool CommandLine::takeLong(const std::vector<OptionSpec>& options,
                           const std::vector<std::string>& words, size_t& index) {
    const std::string word = words[index].substr(2);
    const size_t equals = word.find('=');
    const std::string name = word.substr(0, equals);
    const OptionSpec* option = findLong(options, name);
    if (option == nullptr) {
        return fail("unknown option '--" + name + "'");
    }
    if (option->valueName == nullptr) {
        if (equals != std::string::npos) {
            return fail("option '--" + name + "' takes no value");
        }
        given.push_back({name, ""});
        return true;
    }
    if (equals != std::string::npos) {
        given.push_back({name, word.substr(equals + 1)});
        return true;
    }
    if (index + 1 >= words.size()) {
        return fail("option '--" + name + "' needs a value");
    }
    given.push_back({name, words[++index]});
    return true;
}

bool CommandLine::takeShorts(const std::vector<OptionSpec>& options,
                             const std::vector<std::string>& words, size_t& index) {
    const std::string& word = words[index];
    for (size_t letter = 1; letter < word.size(); ++letter) {
        const OptionSpec* option = findShort(options, word[letter]);
        if (option == nullptr) {
            return fail(std::string("unknown option '-") + word[letter] + "'");
        }
        if (option->valueName == nullptr) {
            given.push_back({option->longName, ""});
            continue;
        }
        // The rest of the word is the value, or else the next word.
        if (letter + 1 < word.size()) {
            given.push_back({option->longName, word.substr(letter + 1)});
        } else if (index + 1 < words.size()) {
            given.push_back({option->longName, words[++index]});
        } else {
            return fail(std::string("option '-") + word[letter] + "' needs a value");
        }
        return true;
    }
    return true;
}

bool CommandLine::fail(const std::string& why) {
    problem = why;
    return false;
}

bool CommandLine::has(const std::string& longName) const {
    return count(longName) > 0;
}

int CommandLine::count(const std::string& longName) const {
    int times = 0;
    for (const Given& option : given) {
        times += option.longName == longName ? 1 : 0;
    }
    return times;
}

std::string CommandLine::value(const std::string& longName, const std::string& fallback) const {
    for (auto option = given.rbegin(); option != given.rend(); ++option) {
        if (option->longName == longName) {
            return option->value;
        }
    }
    return fallback;
}
