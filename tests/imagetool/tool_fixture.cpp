#include "tests/imagetool/tool_fixture.h"

#include <cstdlib>
#include <filesystem>
#include <future>

#include "ecusim/certificates.h"
#include "ecusim/ecu_options.h"

namespace qx::testing {

void tool_test::start(const std::string& options, const std::function<void(ecusim::ecu_config&)>& edit, bool connect) {
    ecusim::ecu_config cfg = ecusim::config_from_text(options);
    if (edit) edit(cfg);
    ecu.emplace(std::move(cfg));
    manager = std::make_unique<connection_manager>();
    if (connect) manager->connect();
}

void tool_test::open() {
    tool = std::make_unique<test_tool>(*manager, ecusim::certificates::root());
    runner_ = std::thread([this] { tool->run_modal(renderer); });
    ASSERT_TRUE(tool->wait([this] { return tool->initialised.load(); }));
}

void tool_test::close() {
    if (runner_.joinable()) {
        tool->cancel();
        runner_.join();
    }
    tool.reset();
    manager.reset();
    ecu.reset();
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
    dir_.clear();
}

void tool_test::sync() {
    auto done = std::make_shared<std::promise<void>>();
    auto ran = done->get_future();
    tool->post([done] { done->set_value(); });
    ASSERT_EQ(ran.wait_for(std::chrono::seconds(60)), std::future_status::ready);
}

void tool_test::select(const std::string& path) {
    renderer.answer_file(path);
    click(IDC_SELECT_FILE);
}

std::string tool_test::temp_path(const std::string& name) {
    if (dir_.empty()) {
        std::string t = (std::filesystem::temp_directory_path() / "imagetool-XXXXXX").string();
        dir_ = ::mkdtemp(t.data());
    }
    return dir_ + "/" + name;
}

std::string tool_test::write_package(std::uint32_t type, std::uint32_t blocks, const std::string& serial,
                                     const std::function<void(test_support::pak_spec&)>& edit) {
    test_support::pak_spec spec = test_support::sample_pak_spec(2, serial, type, blocks);
    const auto cert = ecusim::certificates::package();
    spec.certificate.assign(cert.begin(), cert.end());
    if (edit) edit(spec);
    static int n = 0;
    const std::string path = temp_path("package" + std::to_string(++n) + ".pak");
    test_support::save_file(path, test_support::write_pak(spec).data);
    return path;
}

ecusim::ecu_state tool_test::state() {
    return ecu->device().inspect([](ecusim::ecu& e) { return e.state(); });
}

std::uint64_t tool_test::commands_of(std::uint8_t code) {
    const auto s = state();
    const auto it = s.commands_by_code.find(code);
    return it == s.commands_by_code.end() ? 0 : it->second;
}

void tool_test::fault_on_next(std::uint8_t code, unsigned k, const std::string& actions) {
    if (!fault_plan.empty()) fault_plan += ";";
    fault_plan += "code=" + std::to_string(code) + "#" + std::to_string(commands_of(code) + k) + ":" + actions;
    ecu->device().set_faults(ecusim::fault_plan::parse(fault_plan));
}

bool tool_test::saw(const std::string& caption, const std::string& text) {
    for (const auto& p : renderer.prompts())
        if (p.kind == "message" && p.caption == caption && p.text == text) return true;
    return false;
}

bool tool_test::wait_for_prompt(const std::string& caption, const std::string& text) {
    return renderer.wait_until([&] { return saw(caption, text); }, std::chrono::seconds(60));
}

std::size_t tool_test::messages() {
    std::size_t n = 0;
    for (const auto& p : renderer.prompts()) n += p.kind == "message";
    return n;
}

erase_list erases_of(const ecusim::ecu_state& s) {
    erase_list out;
    for (const auto& e : s.erases) out.emplace_back(e.start_block, e.number_of_blocks);
    return out;
}

}  // namespace qx::testing
