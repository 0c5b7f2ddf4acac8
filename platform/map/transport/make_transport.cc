#include "map/transport/make_transport.h"

#include "map/map_log.h"
#include "map/transport/raw_transport.h"
#include "map/transport/segment_transport.h"

std::unique_ptr<Transport> make_transport(MapStackConfig& config, std::string* error) {
    if (config.interfaces.empty()) {
        const std::string text = "map stack: no interfaces configured";
        map_log(MAP_LOG_IEEE1905, 3, "%s", text.c_str());
        if (error)
            *error = text;
        return nullptr;
    }
    if (config.transport == MapTransportKind::raw) {
        for (MapStackInterface& itf : config.interfaces) {
            if (!itf.mac.is_zero())
                continue;
            std::string why;
            if (!read_interface_mac(itf.name, &itf.mac, &why)) {
                const std::string text = "raw transport: " + why;
                map_log(MAP_LOG_IEEE1905, 3, "%s", text.c_str());
                if (error)
                    *error = text;
                return nullptr;
            }
        }
    }
    if (config.al_mac.is_zero())
        config.al_mac = config.interfaces[0].mac;

    std::vector<TransportInterface> interfaces;
    for (const MapStackInterface& itf : config.interfaces) {
        TransportInterface t;
        t.name = itf.name;
        t.mac = itf.mac;
        t.segment = itf.segment.empty() ? config.segment : itf.segment;
        interfaces.push_back(t);
    }
    TransportOptions options;
    options.al_mac = config.al_mac;
    options.rx_max_frames_per_s = config.rx_max_frames_per_s;
    options.pcap_path = config.pcap;
    options.pcap_max_bytes = config.pcap_max_bytes;
    if (config.transport == MapTransportKind::raw) {
        return std::make_unique<RawTransport>(std::move(interfaces), std::move(options));
    }
    return std::make_unique<SegmentTransport>(std::move(interfaces), std::move(options));
}
