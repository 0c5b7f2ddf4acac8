// The stack's retried actions (map_register_retry), internal to the stack.
#pragma once

// Drops every pending entry without calling its done callback and closes the
// timer (map_stack_stop calls it).
void map_retry_shutdown();
// Forgets the timer (already being closed by somebody else) and every entry.
void map_retry_abandon();
