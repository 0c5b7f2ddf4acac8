#include "messages/tlv_walk.h"

#include "core/log.h"
#include "map/codec/tlv_types.h"

void log_unexpected_tlv(const TlvWalk& w, Unexpected how) {
    const uint8_t t = w.type();
    const unsigned type = t;
    switch (how) {
        case Unexpected::kSilent:
            break;
        case Unexpected::kPlain:
            OZR_LOG_AS(root_logger, 6, w.decoder(), "{} received unexpected {} ({})", w.decoder(),
                       convert_1905_TLV_type_to_string(t), type);
            break;
        case Unexpected::kMessageId:
            OZR_LOG_AS(root_logger, 6, w.decoder(), "{} received unexpected {} ({}) message id {}",
                       w.decoder(), convert_1905_TLV_type_to_string(t), type, w.message_id());
            break;
        case Unexpected::kMessageIdDot:
            OZR_LOG_AS(root_logger, 6, w.decoder(), "{} received unexpected {} ({}). message id {}",
                       w.decoder(), convert_1905_TLV_type_to_string(t), type, w.message_id());
            break;
    }
}
