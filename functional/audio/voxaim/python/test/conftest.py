"""The programs the module's tests compare with, and their scratch folder."""
import os
import shutil

import pytest


def pytest_addoption(parser):
    parser.addoption("--replay", required=True, help="voxaim_replay of the same build")
    parser.addoption("--render", required=True, help="voxaim_render of the same build")
    parser.addoption("--work", required=True, help="scratch folder (emptied first)")


@pytest.fixture(scope="session")
def tools(request):
    return {"replay": request.config.getoption("--replay"), "render": request.config.getoption("--render")}


@pytest.fixture(scope="session")
def work(request):
    path = request.config.getoption("--work")
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path
