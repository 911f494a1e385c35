#pragma once

// Every browser that zuraze-host-register knows, as the tests expect it: its
// name there, its family, its Flatpak app ID (empty for none), and its
// configuration and manifest directories below HOME when neither
// XDG_CONFIG_HOME nor CHROME_CONFIG_HOME is set.
struct browser_row {
    const char *browser;
    const char *family;
    const char *app;
    const char *config;
    const char *hosts;
};

constexpr browser_row browser_rows[] = {
    {"firefox", "firefox", "", ".mozilla", ".mozilla/native-messaging-hosts"},
    {"librewolf", "firefox", "", ".librewolf", ".librewolf/native-messaging-hosts"},
    {"waterfox", "firefox", "", ".waterfox", ".waterfox/native-messaging-hosts"},
    {"floorp", "firefox", "", ".floorp", ".floorp/native-messaging-hosts"},
    {"chromium", "chromium", "", ".config/chromium", ".config/chromium/NativeMessagingHosts"},
    {"chromium-snap", "chromium", "", "snap/chromium/common/chromium",
     "snap/chromium/common/chromium/NativeMessagingHosts"},
    {"google-chrome", "chromium", "", ".config/google-chrome",
     ".config/google-chrome/NativeMessagingHosts"},
    {"google-chrome-beta", "chromium", "", ".config/google-chrome-beta",
     ".config/google-chrome-beta/NativeMessagingHosts"},
    {"google-chrome-unstable", "chromium", "", ".config/google-chrome-unstable",
     ".config/google-chrome-unstable/NativeMessagingHosts"},
    {"google-chrome-canary", "chromium", "", ".config/google-chrome-canary",
     ".config/google-chrome-canary/NativeMessagingHosts"},
    {"microsoft-edge", "chromium", "", ".config/microsoft-edge",
     ".config/microsoft-edge/NativeMessagingHosts"},
    {"microsoft-edge-beta", "chromium", "", ".config/microsoft-edge-beta",
     ".config/microsoft-edge-beta/NativeMessagingHosts"},
    {"microsoft-edge-dev", "chromium", "", ".config/microsoft-edge-dev",
     ".config/microsoft-edge-dev/NativeMessagingHosts"},
    {"brave", "chromium", "", ".config/BraveSoftware/Brave-Browser",
     ".config/BraveSoftware/Brave-Browser/NativeMessagingHosts"},
    {"brave-beta", "chromium", "", ".config/BraveSoftware/Brave-Browser-Beta",
     ".config/BraveSoftware/Brave-Browser-Beta/NativeMessagingHosts"},
    {"brave-nightly", "chromium", "", ".config/BraveSoftware/Brave-Browser-Nightly",
     ".config/BraveSoftware/Brave-Browser-Nightly/NativeMessagingHosts"},
    {"vivaldi", "chromium", "", ".config/vivaldi", ".config/vivaldi/NativeMessagingHosts"},
    {"vivaldi-snapshot", "chromium", "", ".config/vivaldi-snapshot",
     ".config/vivaldi-snapshot/NativeMessagingHosts"},
    {"opera", "chromium", "", ".config/opera", ".config/opera/NativeMessagingHosts"},
    {"firefox-flatpak", "firefox", "org.mozilla.firefox", ".var/app/org.mozilla.firefox/.mozilla",
     ".var/app/org.mozilla.firefox/.mozilla/native-messaging-hosts"},
    {"librewolf-flatpak", "firefox", "io.gitlab.librewolf-community",
     ".var/app/io.gitlab.librewolf-community/.librewolf",
     ".var/app/io.gitlab.librewolf-community/.librewolf/native-messaging-hosts"},
    {"chromium-flatpak", "chromium", "org.chromium.Chromium",
     ".var/app/org.chromium.Chromium/config/chromium",
     ".var/app/org.chromium.Chromium/config/chromium/NativeMessagingHosts"},
    {"google-chrome-flatpak", "chromium", "com.google.Chrome",
     ".var/app/com.google.Chrome/config/google-chrome",
     ".var/app/com.google.Chrome/config/google-chrome/NativeMessagingHosts"},
    {"brave-flatpak", "chromium", "com.brave.Browser",
     ".var/app/com.brave.Browser/config/BraveSoftware/Brave-Browser",
     ".var/app/com.brave.Browser/config/BraveSoftware/Brave-Browser/NativeMessagingHosts"},
    {"microsoft-edge-flatpak", "chromium", "com.microsoft.Edge",
     ".var/app/com.microsoft.Edge/config/microsoft-edge",
     ".var/app/com.microsoft.Edge/config/microsoft-edge/NativeMessagingHosts"},
};
