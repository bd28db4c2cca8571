#include "standin_window.h"

#include <cstdio>

#include "standin_report.h"

static LRESULT CALLBACK GameWindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_PAINT) { // a dark game scene with a light strip, for screenshots
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        RECT client;
        GetClientRect(window, &client);
        HBRUSH scene = CreateSolidBrush(RGB(32, 40, 72));
        FillRect(dc, &client, scene);
        DeleteObject(scene);
        RECT strip = {client.left, client.bottom - 40, client.right, client.bottom};
        HBRUSH light = CreateSolidBrush(RGB(230, 190, 90));
        FillRect(dc, &strip, light);
        DeleteObject(light);
        EndPaint(window, &paint);
        return 0;
    }
    return DefWindowProcW(window, message, w, l);
}

HWND CreateGameWindow(const StandinOptions& options) {
    WNDCLASSW windowClass = {};
    windowClass.style = CS_HREDRAW | CS_VREDRAW; // repaint all of it when the frame goes
    windowClass.lpfnWndProc = GameWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.lpszClassName = L"DuskhavenStandinWindow";
    RegisterClassW(&windowClass);
    const RECT& r = options.rect;
    HWND window = CreateWindowExW(options.exStyle, windowClass.lpszClassName, options.title.c_str(),
                                  options.style, r.left, r.top, r.right - r.left, r.bottom - r.top,
                                  nullptr, nullptr, windowClass.hInstance, nullptr);
    // CreateWindowEx adds bits of its own (WS_CLIPSIBLINGS, WS_EX_WINDOWEDGE
    // with a caption); set exactly what the caller asked for.
    if (window != nullptr) {
        SetWindowLongW(window, GWL_STYLE, static_cast<LONG>(options.style));
        SetWindowLongW(window, GWL_EXSTYLE, static_cast<LONG>(options.exStyle));
        SetWindowPos(window, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                     SWP_NOZORDER | SWP_FRAMECHANGED);
    }
    return window;
}

std::string DescribeWindow(HWND window) {
    RECT rect = {};
    GetWindowRect(window, &rect);
    char text[160];
    std::snprintf(text, sizeof text, "style=0x%08lX exstyle=0x%08lX rect=%ld,%ld,%ld,%ld",
                  static_cast<unsigned long>(GetWindowLongW(window, GWL_STYLE)),
                  static_cast<unsigned long>(GetWindowLongW(window, GWL_EXSTYLE)), rect.left,
                  rect.top, rect.right, rect.bottom);
    return text;
}

// A game that enables, restyles, resizes or replaces its window once its
// plugins are loaded: done on the window's own thread before it takes its
// next message, so a change the plugin left for that thread comes after it.
void ChangeWindowAfterLoad(const StandinOptions& options, HWND& window) {
    if (options.styleAfterLoad >= 0) {
        SetWindowLongW(window, GWL_STYLE, static_cast<LONG>(options.styleAfterLoad));
        Report("window-restyled: style=0x%08llX", options.styleAfterLoad);
    }
    if (options.rectAfterLoadSet) {
        const RECT& r = options.rectAfterLoad;
        SetWindowPos(window, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                     SWP_NOZORDER | SWP_FRAMECHANGED);
    }
    if (options.destroyAfterLoad) {
        Report("window-destroyed: %d", DestroyWindow(window) ? 1 : 0);
        window = nullptr;
    }
}

void PumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}
