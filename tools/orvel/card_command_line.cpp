#include "card_command_line.h"

#include <memory>
#include <string>

namespace orvel::tool {

namespace {

// Every option is taken as text and checked by the tool's own parsers, so
// each refusal is one sentence that names the option, with its own status.
std::uint8_t byte_arg(const std::string& name, const std::string& text) {
    return static_cast<std::uint8_t>(parse_hex_value(name, text, 0xFF));
}

void add_byte_option(CLI::App* sub, const std::string& name, std::string& target, const std::string& what) {
    sub->add_option(name, target, what + " (hex byte)")->capture_default_str()->type_name("HH");
}

CLI::App* add_command(CLI::App& app, const std::string& name, const std::string& description,
                      const std::string& example) {
    CLI::App* sub = app.add_subcommand(name, description);
    sub->footer("Example:\n  " + example);
    return sub;
}

void add_key_option(CLI::App* sub, const std::string& name, std::string& target, const std::string& what) {
    sub->add_option(name, target, what + " (8 bytes, 16 hex digits)")->required()->type_name("KEY");
}

}  // namespace

std::vector<CardSubcommand> add_card_subcommands(CLI::App& app) {
    std::vector<CardSubcommand> commands;

    {
        CLI::App* sub = add_command(app, "power-on", "Power the card up (reader command 6E).", "orvel --sim power-on");
        commands.push_back({sub, [] { return PreparedCommand([](const CardLine& l) { return power_on(l); }); }});
    }
    {
        CLI::App* sub = add_command(app, "power-off", "Power the card down (reader command 4D).", "orvel --sim power-off");
        commands.push_back({sub, [] { return PreparedCommand([](const CardLine& l) { return power_off(l); }); }});
    }
    {
        auto o = std::make_shared<std::array<std::string, 3>>(std::array<std::string, 3>{"80", "02", "A1"});
        CLI::App* sub = add_command(app, "info",
                                    "Read a block of card information (INS C0). P2 picks the block: A1 the serial number "
                                    "(with P1 02), A0 A2 8 bytes, A3 4 bytes, A4 13 bytes, 06 2 bytes.",
                                    "orvel --sim power-on info --p2 A4");
        add_byte_option(sub, "--cla", (*o)[0], "CLA");
        add_byte_option(sub, "--p1", (*o)[1], "P1");
        add_byte_option(sub, "--p2", (*o)[2], "P2, the block asked for");
        commands.push_back({sub, [o] {
                                std::uint8_t cla = byte_arg("--cla", (*o)[0]);
                                std::uint8_t p1 = byte_arg("--p1", (*o)[1]);
                                std::uint8_t p2 = byte_arg("--p2", (*o)[2]);
                                return PreparedCommand([=](const CardLine& l) {
                                    return get_info(l, cla, p1, p2,
                                                    p1 == 0x02 && p2 == 0xA1 ? "read the serial number"
                                                                             : "read card information");
                                });
                            }});
    }
    {
        auto o = std::make_shared<std::array<std::string, 4>>(std::array<std::string, 4>{"", "00", "00", "02"});
        CLI::App* sub = add_command(app, "select", "Select a file by its identifier (SELECT, INS A4, then GET RESPONSE).",
                                    "orvel --sim power-on select 3F01");
        sub->add_option("file-id", (*o)[0], "file identifier (hex, up to 4 digits)")->required()->type_name("FID");
        add_byte_option(sub, "--p1", (*o)[1], "P1");
        add_byte_option(sub, "--p2", (*o)[2], "P2");
        add_byte_option(sub, "--p3", (*o)[3], "P3 (Lc)");
        commands.push_back({sub, [o] {
                                auto id = static_cast<std::uint16_t>(parse_hex_value("file-id", (*o)[0], 0xFFFF));
                                std::uint8_t p1 = byte_arg("--p1", (*o)[1]);
                                std::uint8_t p2 = byte_arg("--p2", (*o)[2]);
                                std::uint8_t p3 = byte_arg("--p3", (*o)[3]);
                                return PreparedCommand([=](const CardLine& l) { return select_file(l, p1, p2, p3, id); });
                            }});
    }
    for (bool record : {false, true}) {
        auto o = std::make_shared<std::array<std::string, 4>>(
            std::array<std::string, 4>{"00", record ? "01" : "00", record ? "00" : "00", "8"});
        CLI::App* sub =
            record ? add_command(app, "read-record",
                                 "Read a record of the current file (READ RECORD, INS B2). P1 is the record number.",
                                 "orvel --sim power-on verify 64710030FF547928 read-record --p1 01 --p2 02 --le 8")
                   : add_command(app, "read-binary",
                                 "Read bytes of the current file (READ BINARY, INS B0). P1 P2 are the offset.",
                                 "orvel --sim power-on select 0003 read-binary --p2 08 --le 8");
        add_byte_option(sub, "--cla", (*o)[0], "CLA");
        add_byte_option(sub, "--p1", (*o)[1], record ? "P1, the record number" : "P1, offset high byte");
        add_byte_option(sub, "--p2", (*o)[2], record ? "P2, the file (the simulator takes a short file identifier, 00 the current file)" : "P2, offset low byte");
        sub->add_option("--le", (*o)[3], "number of bytes to read, 0 to 121 (decimal)")->capture_default_str()->type_name("N");
        commands.push_back({sub, [o, record] {
                                std::uint8_t cla = byte_arg("--cla", (*o)[0]);
                                std::uint8_t p1 = byte_arg("--p1", (*o)[1]);
                                std::uint8_t p2 = byte_arg("--p2", (*o)[2]);
                                auto le = static_cast<std::uint8_t>(parse_integer("--le", (*o)[3], 0, kMaxReadLength));
                                return PreparedCommand([=](const CardLine& l) {
                                    return record ? read_record(l, cla, p1, p2, le) : read_binary(l, cla, p1, p2, le);
                                });
                            }});
    }
    {
        struct Options {
            std::string data, cla = "00", p1 = "00", p2 = "00", key_a, key_b;
            bool mac = false;
        };
        auto o = std::make_shared<Options>();
        CLI::App* sub = add_command(
            app, "update-binary",
            "Write bytes into the current file (UPDATE BINARY, INS D6, then GET RESPONSE). With --mac the write "
            "carries a MAC under --key-a/--key-b (CLA 04) and the card's answer MAC is checked.",
            "orvel --sim power-on select 0004 update-binary 0102030405 --mac --key-a 2122232425262728 --key-b 3132333435363738");
        sub->add_option("data", o->data, "the bytes to write (hex; at most 118 bytes, 115 with --mac)")->required()->type_name("HEX");
        add_byte_option(sub, "--cla", o->cla, "CLA (without --mac)");
        add_byte_option(sub, "--p1", o->p1, "P1, offset high byte");
        add_byte_option(sub, "--p2", o->p2, "P2, offset low byte");
        CLI::Option* mac = sub->add_flag("--mac", o->mac, "protect the write with a MAC");
        sub->add_option("--key-a", o->key_a, "first MAC key (8 bytes, 16 hex digits)")->needs(mac)->type_name("KEY");
        sub->add_option("--key-b", o->key_b, "second MAC key (8 bytes, 16 hex digits)")->needs(mac)->type_name("KEY");
        commands.push_back({sub, [o] {
                                Bytes data = parse_hex_up_to("data", o->data, o->mac ? kMaxMacWrite : kMaxPlainWrite);
                                std::uint8_t cla = byte_arg("--cla", o->cla);
                                std::uint8_t p1 = byte_arg("--p1", o->p1);
                                std::uint8_t p2 = byte_arg("--p2", o->p2);
                                std::optional<Key> a, b;
                                if (o->mac) {
                                    if (o->key_a.empty() || o->key_b.empty()) {
                                        throw ArgumentError(kExitUsage, "--mac needs both --key-a and --key-b.");
                                    }
                                    a = parse_key("--key-a", o->key_a);
                                    b = parse_key("--key-b", o->key_b);
                                }
                                return PreparedCommand([=](const CardLine& l) {
                                    return update_binary(l, cla, p1, p2, data, a ? &*a : nullptr, b ? &*b : nullptr);
                                });
                            }});
    }
    {
        auto o = std::make_shared<std::array<std::string, 3>>(std::array<std::string, 3>{"80", "00", "00000000"});
        CLI::App* sub = add_command(app, "balance",
                                    "Read the purse balance (INS 32, then GET RESPONSE); shown in hex and decimal.",
                                    "orvel --sim power-on balance");
        add_byte_option(sub, "--cla", (*o)[0], "CLA");
        add_byte_option(sub, "--p2", (*o)[1], "P2 (low four bits used)");
        sub->add_option("--data", (*o)[2], "the 4 data bytes of the command (hex)")->capture_default_str()->type_name("HEX");
        commands.push_back({sub, [o] {
                                std::uint8_t cla = byte_arg("--cla", (*o)[0]);
                                std::uint8_t p2 = byte_arg("--p2", (*o)[1]);
                                Bytes data = parse_hex_exact("--data", (*o)[2], 4);
                                return PreparedCommand([=](const CardLine& l) { return read_balance(l, cla, p2, data); });
                            }});
    }
    {
        auto o = std::make_shared<std::array<std::string, 4>>(std::array<std::string, 4>{"", "80", "00", "0000000000000000"});
        CLI::App* sub = add_command(app, "credit", "Credit the purse (INS 36) with an amount of 0 to 16777215.",
                                    "orvel --sim power-on credit 500 balance");
        sub->add_option("amount", (*o)[0], "amount to credit (decimal, 0 to 16777215)")->required()->type_name("N");
        add_byte_option(sub, "--cla", (*o)[1], "CLA");
        add_byte_option(sub, "--p1", (*o)[2], "P1");
        sub->add_option("--data", (*o)[3], "the 8 further data bytes (hex)")->capture_default_str()->type_name("HEX");
        commands.push_back({sub, [o] {
                                auto amount = static_cast<std::uint32_t>(parse_integer("amount", (*o)[0], 0, kMaxAmount));
                                std::uint8_t cla = byte_arg("--cla", (*o)[1]);
                                std::uint8_t p1 = byte_arg("--p1", (*o)[2]);
                                Bytes data = parse_hex_exact("--data", (*o)[3], 8);
                                return PreparedCommand([=](const CardLine& l) { return credit(l, cla, p1, amount, data); });
                            }});
    }
    {
        auto o = std::make_shared<std::array<std::string, 3>>(std::array<std::string, 3>{"", "80", "00000000"});
        CLI::App* sub = add_command(app, "debit", "Debit the purse (INS 34) by an amount of 0 to 16777215.",
                                    "orvel --sim power-on debit 250 balance");
        sub->add_option("amount", (*o)[0], "amount to debit (decimal, 0 to 16777215)")->required()->type_name("N");
        add_byte_option(sub, "--cla", (*o)[1], "CLA");
        sub->add_option("--data", (*o)[2], "the 4 further data bytes (hex)")->capture_default_str()->type_name("HEX");
        commands.push_back({sub, [o] {
                                auto amount = static_cast<int>(parse_integer("amount", (*o)[0], 0, kMaxAmount));
                                std::uint8_t cla = byte_arg("--cla", (*o)[1]);
                                Bytes data = parse_hex_exact("--data", (*o)[2], 4);
                                return PreparedCommand([=](const CardLine& l) { return debit(l, cla, data, amount); });
                            }});
    }
    {
        struct Options {
            std::string key_a, key_b;
            bool current = false;
        };
        auto o = std::make_shared<Options>();
        CLI::App* sub = add_command(
            app, "auth",
            "Authenticate the card under a two-key key: power up, select 3F01 and run the key-file selection; "
            "prints the two session keys. With --current, authenticate on the file already selected.",
            "orvel --sim auth --key-a 0102030405060708 --key-b 1112131415161718");
        add_key_option(sub, "--key-a", o->key_a, "first key");
        add_key_option(sub, "--key-b", o->key_b, "second key");
        sub->add_flag("--current", o->current, "no power-up or selection: authenticate on the current file");
        commands.push_back({sub, [o] {
                                Key a = parse_key("--key-a", o->key_a);
                                Key b = parse_key("--key-b", o->key_b);
                                bool current = o->current;
                                return PreparedCommand([=](const CardLine& l) {
                                    return current ? authenticate(l, a, b, "authenticate")
                                                   : authenticate_3f01(l, a, b, "power up, select 3F01, authenticate");
                                });
                            }});
    }
    {
        auto o = std::make_shared<std::string>();
        CLI::App* sub = add_command(app, "system-key",
                                    "Derive the card's system key from a master key: the serial number enciphered "
                                    "under it (powers the card up and down by itself).",
                                    "orvel --sim system-key --master 0011223344556677");
        add_key_option(sub, "--master", *o, "master key");
        commands.push_back({sub, [o] {
                                Key m = parse_key("--master", *o);
                                return PreparedCommand([=](const CardLine& l) { return make_system_key(l, m); });
                            }});
    }
    {
        auto o = std::make_shared<std::array<std::string, 3>>();
        CLI::App* sub = add_command(
            app, "change-key",
            "Write the system key of a new master key into the card, authenticating under the present key "
            "(powers the card up and down by itself). Afterwards the card authenticates under that system key as "
            "both halves.",
            "orvel --sim change-key --key-a 0102030405060708 --key-b 1112131415161718 --master 0011223344556677");
        add_key_option(sub, "--key-a", (*o)[0], "present first key");
        add_key_option(sub, "--key-b", (*o)[1], "present second key");
        add_key_option(sub, "--master", (*o)[2], "new master key");
        commands.push_back({sub, [o] {
                                Key a = parse_key("--key-a", (*o)[0]);
                                Key b = parse_key("--key-b", (*o)[1]);
                                Key m = parse_key("--master", (*o)[2]);
                                return PreparedCommand([=](const CardLine& l) { return change_key(l, a, b, m); });
                            }});
    }
    {
        auto o = std::make_shared<std::array<std::string, 3>>(std::array<std::string, 3>{"", "00", "00"});
        CLI::App* sub = add_command(app, "verify", "Present an 8-byte code to the card (VERIFY, INS 20).",
                                    "orvel --sim power-on verify 64710030FF547928");
        sub->add_option("code", (*o)[0], "the code (8 bytes, 16 hex digits)")->required()->type_name("CODE");
        add_byte_option(sub, "--cla", (*o)[1], "CLA");
        add_byte_option(sub, "--p2", (*o)[2], "P2");
        commands.push_back({sub, [o] {
                                Bytes code = parse_hex_exact("code", (*o)[0], 8);
                                std::uint8_t cla = byte_arg("--cla", (*o)[1]);
                                std::uint8_t p2 = byte_arg("--p2", (*o)[2]);
                                return PreparedCommand([=](const CardLine& l) { return verify(l, cla, p2, code); });
                            }});
    }
    {
        auto o = std::make_shared<std::string>();
        CLI::App* sub = add_command(app, "send-frame",
                                    "Send a raw command block (block start 60, LN, reader command, payload; the check "
                                    "character is added) and print the reply block.",
                                    "orvel --sim send-frame 60046E020000");
        sub->add_option("block", *o, "the command block (hex, 1 to 126 bytes)")->required()->type_name("HEX");
        commands.push_back({sub, [o] {
                                Bytes block = parse_hex_up_to("block", *o, kMaxCommandBlock);
                                if (block.empty()) {
                                    throw ArgumentError(kExitWrongLength, "block must hold 1 to 126 bytes, not 0.");
                                }
                                return PreparedCommand([=](const CardLine& l) { return send_frame(l, block); });
                            }});
    }
    return commands;
}

}  // namespace orvel::tool
