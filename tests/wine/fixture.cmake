# The Wine prefix fixture, for the folders whose tests run under Wine: every
# such test requires it, so CTest makes the prefix and starts its server
# first, and ends the server after the last of them. tests/wine/CMakeLists.txt
# registers the fixture's own two tests.
set(WINE_PREFIX_FIXTURE wine_prefix)

# The prefixes are copies of one made once, when the configuration names it
# (the presets do): both builds, and the tray test's own prefix, share its
# boot. Tests that make a prefix take it in their environment.
set(CARDWELL_WINEPREFIX_TEMPLATE "" CACHE PATH
  "A Wine prefix that the tests' prefixes are copied from, made when missing; empty: each is made afresh")
set(WINE_TEMPLATE_ENVIRONMENT "CARDWELL_WINEPREFIX_TEMPLATE=${CARDWELL_WINEPREFIX_TEMPLATE}")

# What a test prints where the fixture found that this machine cannot run
# the build's programs (wine-env.sh): the test then counts as skipped.
set(WINE_SKIP_MARK "skipped: this machine cannot run the build's Windows programs")

# require_wine_prefix(test...): call from the folder that added the tests.
function(require_wine_prefix)
  set_property(TEST ${ARGN} APPEND PROPERTY FIXTURES_REQUIRED wine_prefix)
  set_property(TEST ${ARGN} PROPERTY SKIP_REGULAR_EXPRESSION "${WINE_SKIP_MARK}")
endfunction()

# Resource locks for tests that share state in the one prefix. Every test that
# touches the service's parameters key, the device tree or the device-console
# tool holds WINE_SERVICE_STATE, so that none of them sees another's registry
# values; every test with windows that take device-change broadcasts holds
# WINE_DESKTOP, as broadcasts reach every listener on the run's desktop.
set(WINE_SERVICE_STATE cardwell_wine_service_state)
set(WINE_DESKTOP cardwell_wine_desktop)
# Tests that use the card-reader stand-in (tests/wine-driver) hold
# WINE_CARD_READER: they share its one card and its log of requests.
set(WINE_CARD_READER cardwell_wine_card_reader)
