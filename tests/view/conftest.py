def pytest_addoption(parser):
    parser.addoption("--voq", default="build/tools/voq/voq", help="the voq program to test")
