// Feeds arbitrary bytes to the reader of the "/user/getTempSession" answer, parsed as the
// blocking request parses it.

#include "net/strictjson.h"
#include "session/usercontext.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Json::Value answer;
    StrictJson::parse(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)), answer);
    // A null session means "nobody signed in"; an answer, whatever it holds, never says that.
    if (UserContext::sessionFromAnswer(answer).isNull())
        abort();
    return 0;
}
