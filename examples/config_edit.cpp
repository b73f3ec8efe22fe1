// A C++ host: loads a configuration, reads typed settings, changes it and saves it.
//
//     marllib_config_edit examples/config.marl out.marl
#include <cstdint>
#include <iostream>

#include "marllib.hpp"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: marllib_config_edit IN.marl OUT.marl\n";
        return 2;
    }
    try {
        marl::Document doc = marl::Document::load(argv[1]);
        const marl::tag app = doc.at("application").value();

        // Typed reads, with defaults for settings the file may leave out.
        const int port = doc.value_as<int>(*doc.at("server/port", app));
        const int64_t limit = doc.value_or(doc.at("server/limits/request-bytes", app), int64_t{0});
        const bool tls = doc.find(*doc.at("server/tls", app), "enabled").has_value();
        const double rotate = doc.value_or(doc.at("logging/outputs/file/rotate-mb", app), 16.0);
        std::cout << "port " << port << ", request limit " << limit << " bytes, tls "
                  << (tls ? "on" : "off") << ", rotate at " << rotate << " MB\n";
        for (marl::tag user : doc.children(*doc.at("users", app), "user")) {
            std::cout << "user " << doc.value(*doc.find(user, "name")) << " ("
                      << doc.value_or(doc.find(user, "role"), "no role") << ")\n";
        }

        // Edits: the next port, a new user, and the third user renamed.
        doc.set_value(*doc.at("server/port", app), port + 1);
        const marl::tag user = doc.add_container(*doc.at("users", app), "user");
        doc.add_leaf(user, "name", "linus");
        doc.add_leaf(user, "role", "editor");
        doc.set_value(*doc.at("users/user[3]/name", app), "retired");
        doc.save(argv[2]);

        const marl::Document saved = marl::Document::load(argv[2]);
        std::cout << "saved: port " << saved.value_as<int>(*saved.at("application/server/port"))
                  << ", " << saved.children(*saved.at("application/users"), "user").size()
                  << " users, the last " << saved.value(*saved.at("application/users/user[4]/name"))
                  << "\n";
    } catch (const marl::error& failure) {
        std::cerr << failure.what() << '\n';
        return 1;
    }
    return 0;
}
