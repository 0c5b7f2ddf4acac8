// The daemon's context for the targets that reach its minders. The context is made once,
// on the shared loop, under a temporary root (fuzz::temp_root); each input starts with
// minders as built, so that nothing an input did reaches the next one:
//
//   Context& c = fuzz::begin_input();   // the manual clock at its start; every minder
//                                       // that keeps state as built
//   ... feed the input ...
//   fuzz::end_input(touched);           // the data model and the channel service
//                                       // emptied; minders the input reached destroyed
//                                       // (their CMDU handlers forgotten, their timers
//                                       // released) and built anew for the next input
//
// Built in the context's order, the minders register their CMDU handlers in the daemon's
// order. The REST minder is made once with the context and kept: it registers no CMDU
// handler and keeps no mesh state, and its server is never started here.
//
// A target that calls one minder directly and dispatches no CMDU renews only that one
// (fuzz::renew, fuzz::release): the others are never reached, and building them for every
// input would cost more than the input itself.
//
// Rebuilding at the end of the input (not at the start of the next) keeps an input's
// allocations balanced (the minders it destroys and those it builds allocate alike), so
// that libFuzzer looks for a leak only where there is one.
#pragma once

#include "common/clock.h"
#include "configuration/configuration_minder.h"
#include "controller/controller_minder.h"
#include "core/context.h"
#include "core/state_version.h"
#include "data/data_minder.h"
#include "fuzz_support.h"
#include "graph/graph_minder.h"
#include "hkt/hkt_mgmt_minder.h"
#include "map/datamodel/datamodel.h"
#include "nal/ics.h"
#include "steering/steering_minder.h"

namespace fuzz {

// The manual clock's time when an input starts.
constexpr long long kStartMs = 1000000;

// Destroys minder M (null afterwards), forgets every CMDU handler (its own among them) and
// lets the loop release its timers.
template <class M>
void release(M*& m) {
    delete m;
    m = nullptr;
    forget_cmdu_handlers();
    settle();
}

// A new minder in place of M, built at the start of the clock.
template <class M>
M& renew(M*& m) {
    if (m)
        release(m);
    ozr_clock::set_manual(kStartMs);
    m = new M(loop());
    return *m;
}

namespace detail {
// In the order ~Context destroys them.
inline void drop_minders(Context& c) {
    auto drop = [](auto*& m) {
        delete m;
        m = nullptr;
    };
    drop(c.hkt_mgmt_minder);
    drop(c.graph_minder);
    drop(c.steering_minder);
    drop(c.data_minder);
    drop(c.config_minder);
    drop(c.controller_minder);
    forget_cmdu_handlers();
    settle();
    map_datamodel_reset();
    ics_reset();
}
}  // namespace detail

// The context, made on the first call with every minder.
inline Context& context() {
    static Context* c = [] {
        temp_root("context");
        ozr_make_dirs(ozr_path("/configs/easymesh"));
        ozr_clock::set_manual(kStartMs);
        return new Context(loop());
    }();
    return *c;
}

namespace detail {
// Every minder that keeps state, built in the context's order at the start of the clock.
inline void build_minders(Context& c) {
    ozr_clock::set_manual(kStartMs);
    uv_loop_t* l = loop();
    c.graph_minder = new GraphMinder(l);
    c.steering_minder = new SteeringMinder(l);
    c.hkt_mgmt_minder = new HktMgmtMinder(l);
    c.data_minder = new DataMinder(l);
    c.config_minder = new ConfigurationMinder(l);
    c.controller_minder = new ControllerMinder(l);
}

// The state version when the input began.
inline uint64_t& version_at_begin() {
    static uint64_t v = 0;
    return v;
}
}  // namespace detail

inline Context& begin_input() {
    static bool built = [] {
        detail::drop_minders(context());
        detail::build_minders(context());
        return true;
    }();
    (void)built;
    ozr_clock::set_manual(kStartMs);
    detail::version_at_begin() = state_version();
    return context();
}

// TOUCHED: the input ran the minders' periodic work. When it did, or when a CMDU reached
// the registry's handlers (which note a state change), the minders are destroyed and built
// anew, ready for the next input; otherwise they are still as built and are kept, which
// spares most inputs (those the decoder refuses, or that no minder handles) the cost of
// building six minders. Either way the data model and the channel service are emptied.
inline void end_input(bool touched) {
    Context& c = context();
    if (touched || state_version() != detail::version_at_begin()) {
        detail::drop_minders(c);
        detail::build_minders(c);
    } else {
        map_datamodel_reset();
        ics_reset();
    }
}

}  // namespace fuzz
