// The REST routes of the logging configuration ("/1/log-config", "/1/log-level",
// "/1/log-path"), kept by the data minder's debug database.
#pragma once

// Referenced by the REST minder so that the static library keeps log_routes.o
// (and with it the static route registrations).
void data_log_routes_linked();
