#pragma once

#include <string>
#include <vector>

// What a native messaging manifest holds, as the browsers read it.
struct manifest {
    bool parsed = false; // the file is a JSON object
    std::vector<std::string> keys;
    std::string name, description, path, type;
    std::string allow_key; // "allowed_origins" or "allowed_extensions", if one is there
    std::vector<std::string> allowed;
};

manifest parse_manifest(const std::string &text);
manifest read_manifest(const std::string &file);

// Expects the manifest of a browser's family, made for host with the build's
// name and extension IDs.
void expect_manifest(const manifest &m, const std::string &browser, const std::string &host);

// The allow-list that a browser family's manifest should hold for ids, which
// are separated by blanks.
std::vector<std::string> expected_allow_list(const std::string &family, const std::string &ids);

// "firefox" for the Firefox family, "chromium" for the Chromium family.
std::string family_of(const std::string &browser);
