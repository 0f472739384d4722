// Feeds arbitrary bytes to the reader of the "/message/getMessage" answer.

#include "manager/messageenvelope.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray answer(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<MessageEnvelope> envelope = MessageEnvelope::read(answer);
    // Type 0 means "no message": an envelope that carries it must never reach the popups.
    if (envelope && envelope->type == 0)
        abort();
    return 0;
}
