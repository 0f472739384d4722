// Feeds arbitrary bytes to the decision on the "/couponActivity/getTimingCoupon" answer. The
// input's first line is the coupon id stored from an earlier start, the rest is the answer.

#include "manager/couponoffer.h"
#include "net/strictjson.h"

#include <cstdint>
#include <cstdlib>

namespace {

const QString UserPage = QStringLiteral("http://127.0.0.1:18080/user/index");

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype lineEnd = input.indexOf('\n');
    const QString storedId = QString::fromUtf8(input.left(lineEnd < 0 ? 0 : lineEnd));
    const QByteArray answer = lineEnd < 0 ? input : input.mid(lineEnd + 1);

    const std::optional<CouponOffer> offer = CouponOffer::evaluate(answer, storedId, UserPage);
    if (!offer)
        return 0;
    // A popup is due only with something to say, and it always leads to the user's page.
    if (offer->title.isEmpty() || offer->brief.isEmpty() || offer->jmpUrl != UserPage)
        abort();
    // The popup reads the record back as the offer wrote it.
    const Json::Value content = offer->content();
    if (StrictJson::textMember(content, "title") != offer->title ||
        StrictJson::textMember(content, "brief") != offer->brief ||
        StrictJson::textMember(content, "jmpUrl") != offer->jmpUrl)
        abort();
    return 0;
}
