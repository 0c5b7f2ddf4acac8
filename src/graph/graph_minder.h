// Keeps the mesh topology graph up to date from received CMDUs and collects metrics.
#pragma once

#include "core/minder.h"
#include "graph/graph.h"
#include "log/logger.h"

struct uv_loop_s;

class GraphMinder : public Minder {
  public:
    // Builds the "graph" category logger (path "root.graph") with its configured level.
    explicit GraphMinder(uv_loop_s* loop);
    ~GraphMinder() override;
    GraphMinder(const GraphMinder&) = delete;
    GraphMinder& operator=(const GraphMinder&) = delete;

    Err init(Context& context) override;
    void run() override;

    // Run-time level change of the category logger (-1: inherit the root level).
    void set_log_level(int level) { logger_.set_level(level); }
    const Logger* logger() const { return &logger_; }

    // The mesh as learnt so far; REST and the other minders read it on the loop thread.
    Graph& graph() { return graph_; }
    const Graph& graph() const { return graph_; }

  private:
    Logger logger_;
    Graph graph_;
    [[maybe_unused]] uv_loop_s* loop_;
};
