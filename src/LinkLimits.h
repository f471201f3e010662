#pragma once

// How long the library waits for a calculator. A calculator that has sent nothing at all for
// `silenceMs` while it was waited for does not answer; no exchange lasts longer than
// `exchangeMs`, whatever arrives in the meantime.
struct LinkPatience {
    int silenceMs;
    int exchangeMs;
};

class LinkLimits {
public:
    // Every bulk transfer waits at most this long.
    static constexpr unsigned int transferTimeoutMs = 2000;
    // Five unanswered receives in a row; thirty seconds for any one exchange.
    static constexpr LinkPatience normal = {5 * transferTimeoutMs, 30000};
    // Compacting the storage keeps a real calculator busy for minutes before it answers.
    static constexpr LinkPatience slow = {10 * 60 * 1000, 15 * 60 * 1000};
};
