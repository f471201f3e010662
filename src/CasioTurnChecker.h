#pragma once

#include "CasioCalcTurn.h"
#include "CasioCommandHeader.h"
#include "CasioPacker.h"

// A listener of the calculator's turn that remembers the first thing wrong with what the
// calculator sends, and says it once the turn is over: the turn itself is always seen to its
// end, so that the link can go on.
class CasioTurnChecker : public CasioTurnListener {
public:
    bool failed() const { return problem != nullptr; }
    // True, after reporting it, when something was wrong.
    bool report() const;

protected:
    // Keeps the first of the problems met; `what` must outlive the checker (a literal).
    void fail(const char* what);
    // The command carried by `packet`, if it is command `code` and readable; otherwise false,
    // after failing.
    bool readCommand(const CasioPacketInfo& packet, unsigned char code,
                     CasioStorageCommand* command);

    ~CasioTurnChecker() = default;

private:
    const char* problem = nullptr;
};
