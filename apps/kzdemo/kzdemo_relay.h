// kzdemo --relay: camera -> senders -> kzrelay -> receivers in two groups.
#pragma once

// Runs the relay demo for Seconds; the program's exit code. Main thread.
int KzDemoRelay(double Seconds);
