// Keeps a library target valid while its folder has no sources yet.
namespace {
[[maybe_unused]] int empty_unit_anchor = 0;
}
