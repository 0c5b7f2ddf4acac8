#include "steering_fixture.h"

#include "core/context.h"
#include "data/data_minder.h"
#include "mesh_fixture.h"

namespace steer_test {

const MAC Ids::r(0x02, 0, 0, 0, 0x00, 0x01);
const MAC Ids::e(0x02, 0, 0, 0, 0x03, 0x00);
const MAC Ids::r_radio24(0x02, 0, 0, 0, 0x10, 0x24);
const MAC Ids::r_radio5(0x02, 0, 0, 0, 0x10, 0x50);
const MAC Ids::e_radio5(0x02, 0, 0, 0, 0x30, 0x50);
const BSSID Ids::r24(MAC(0x02, 0, 0, 0, 0x10, 0x25));
const BSSID Ids::r5(MAC(0x02, 0, 0, 0, 0x10, 0x55));
const BSSID Ids::e5(MAC(0x02, 0, 0, 0, 0x30, 0x55));
const MAC Ids::c1(0x5c, 0, 0, 0, 0, 0x01);
const MAC Ids::c2(0x5c, 0, 0, 0, 0, 0x02);

namespace {
void radio(Device* d, const MAC& id, const BSSID& bss, bool five, uint8_t op_class,
           uint8_t channel) {
    RadioInfo ri;
    ri.radio_id = id;
    ri.bsss.push_back(BSSInfo{bss, "home"});
    d->operational_bss.push_back(ri);
    if (!d->ap_capability)
        d->ap_capability = APCapabilityMesg();
    BasicRadioCapabilitiesTLV cap;
    cap.radio_id = id;
    cap.band = five ? 1 : 0;
    d->ap_capability->radios.push_back(cap);
    OperatingChannelReportTLV oc;
    oc.radio_id = id;
    operating_class_channel_s c;
    c.op_class = op_class;
    c.channel = channel;
    oc.op_classes.push_back(c);
    d->current_channels.reports.push_back(oc);
}
}  // namespace

void SteeringFixture::SetUp() {
    ASSERT_TRUE(h.ctx().data_minder->client_db().db_init());
    const int64_t now = h.ctx().now();
    r = graph_test::add_device(g(), "R", Ids::r, now);
    e = graph_test::add_device(g(), "E", Ids::e, now);
    g().root = r;
    graph_test::add_wired(r, Ids::e, now);
    graph_test::add_wired(e, Ids::r, now);
    radio(r, Ids::r_radio24, Ids::r24, false, 81, 6);
    radio(r, Ids::r_radio5, Ids::r5, true, 128, 36);
    radio(e, Ids::e_radio5, Ids::e5, true, 128, 149);
}

Sta* SteeringFixture::client(const MAC& mac, Device* dev, const BSSID& bssid, uint8_t rcpi,
                             Medium medium) {
    const int64_t now = h.ctx().now();
    Sta* s = graph_test::add_sta(g(), mac, now);
    s->capabilities.supported_channels_2g = 0x7ff;
    s->capabilities.supported_channels_5g = 0xf;
    s->capabilities.capable_bss_transition = true;
    WirelessLink* l = graph_test::add_wireless(dev, mac, bssid, rcpi, medium, now);
    sm().notify_new_wireless_link(l);
    return s;
}

void SteeringFixture::ticks(int n) {
    for (int i = 0; i < n; ++i) {
        h.advance(2000);
        sm().on_steering_tick_timer();
    }
}

}  // namespace steer_test
