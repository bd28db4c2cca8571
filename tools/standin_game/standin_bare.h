#pragma once

// What the plugin's load and its idle threads must do, done bare.
void BareLoad();
