// The D-Bus wrapper (stand-in). Only what the process entry needs today.
#pragma once

// Emits the signal INTERFACE.MEMBER on the system bus, with the arguments given as a
// JSON array text (null or "" for none). Returns 0 on success.
//
// Stand-in: there is no bus connection yet, so this does nothing and reports success;
// the D-Bus work replaces it. Until then the duplicate-instance signal
// ("vexal.ozr" / "ozrDuplicationSignal") sent by a second instance is a no-op.
int qbusSendSignal(const char* interface_name, const char* member, const char* args_json);
