#!/usr/bin/env python3
"""The service program's management interface and module, end to end.

Runs under dbus-run-session: a private session bus for the whole run. Every test
starts the real VantorSyncSvc with VANTORSYNC_BUS=session in its own data folder
(XDG_CONFIG_HOME) on a free port and drives it with VantorSyncCtl and busctl.
Time limits are generous; nothing here measures speed.
"""
import os
import signal
import socket
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from sync_wire import descriptor, free_port, wl_record  # noqa: E402
from management_harness import (OBJECT, PROGRAMS, Service, ServiceTest,  # noqa: E402
                                assert_well_formed, busctl, config_text, ctl, get_property,
                                name_on_bus, set_property)


class EnabledTest(ServiceTest):
    def test_put_keeps_state_when_nothing_to_do_and_five_acts_as_one(self):
        service = self.start_service()
        self.assertIn("listening on port %d" % service.port, service.banner)
        self.assertEqual(get_property("Enabled").stdout.strip(), "i 1")
        self.assertEqual(set_property("Enabled", "i", 5).returncode, 0)
        self.assertEqual(get_property("Enabled").stdout.strip(), "i 1")
        self.assertEqual(set_property("Enabled", "i", 0).returncode, 0)
        self.assertEqual(get_property("Enabled").stdout.strip(), "i 0")
        with self.assertRaises(OSError):
            socket.create_connection(("127.0.0.1", service.port), timeout=5).close()
        self.assertEqual(set_property("Enabled", "i", 0).returncode, 0)
        self.assertEqual(set_property("Enabled", "i", 5).returncode, 0)
        self.assertEqual(get_property("Enabled").stdout.strip(), "i 1")
        response, body = service.request("GET", "/version")
        self.assertEqual((response.status, body), (200, b"1.0"))
        self.assertEqual(set_property("Enabled", "i", -1).returncode, 0)
        self.assertEqual(self.ctl_ok("status"), "running\n")

    def test_port_in_use_at_start_then_started_once_freed(self):
        blocker = socket.socket()
        blocker.bind(("0.0.0.0", 0))
        blocker.listen()
        port = blocker.getsockname()[1]
        try:
            service = self.start_service(port=port)
            self.assertIn("HTTP server not started: port %d" % port, service.banner)
            self.assertEqual(self.ctl_ok("status"), "stopped\n")
            error = self.ctl_fails("start")
            self.assertIn("port %d" % port, error)
            failed = set_property("Enabled", "i", 1)
            self.assertNotEqual(failed.returncode, 0)
            self.assertEqual(self.ctl_ok("status"), "stopped\n")
        finally:
            blocker.close()
        self.assertEqual(self.ctl_ok("start"), "started\n")
        self.assertEqual(self.ctl_ok("status"), "running\n")
        response, body = service.request("GET", "/version")
        self.assertEqual(body, b"1.0")

    def test_stop_and_start_keep_both_stores_and_their_indexes(self):
        service = self.start_service()
        response, _ = service.request("POST", "/post_wl_updates",
                                      wl_record(1, 5) + wl_record(1, -3) + wl_record(0, 5),
                                      {"User-Host": "ws1"})
        self.assertEqual(response.getheader("newIndex"), "3")
        body = descriptor(7, [1, 2, 3]) + descriptor(8, [4])
        response, _ = service.request("POST", "/post_ts_updates", body, {"User-Host": "ws1"})
        self.assertEqual(response.getheader("newIndex"), "2")

        self.assertEqual(self.ctl_ok("stop"), "stopped\n")
        self.assertEqual(self.ctl_ok("stats"), "whitelist: 3\ntraining database: 2\n")
        self.assertEqual(self.ctl_ok("start"), "started\n")

        response, data = service.request("GET", "/get_wl_updates", b"",
                                         {"User-Host": "ws1", "startIndex": "2"})
        self.assertEqual((response.getheader("newIndex"), data), ("3", wl_record(0, 5)))
        response, data = service.request("GET", "/get_ts_updates", b"",
                                         {"User-Host": "ws1", "startIndex": "1"})
        self.assertEqual((response.getheader("newIndex"), data), ("2", descriptor(8, [4])))


class ConfigTest(ServiceTest):
    def test_get_returns_the_file_byte_for_byte(self):
        service = self.start_service()
        with open(service.path("config.xml"), "rb") as f:
            on_disk = f.read()
        self.assertEqual(ctl("config", "get").stdout, on_disk)
        target = os.path.join(self.home, "copy.xml")
        self.ctl_ok("config", "get", target)
        with open(target, "rb") as f:
            self.assertEqual(f.read(), on_disk)

    def test_refused_put_changes_nothing_and_says_why(self):
        service = self.start_service()
        with open(service.path("config.xml"), "rb") as f:
            before = f.read()
        source = os.path.join(self.home, "refused.xml")
        cases = [
            (b"\x00\xff not <xml at all \r\n\x01", "line 1: not well-formed"),
            # Values before the break must not stay applied.
            (b"<config>\r\n<common_whitelist_enabled>0</common_whitelist_enabled>\r\n<acl ho",
             "line 3"),
        ] + [(config_text(0).replace(b">0<", (">%s<" % port).encode()),
              "port \"%s\" is outside 1-65535" % port) for port in ("0", "65536", "-5", "abc")]
        for text, why in cases:
            with open(source, "wb") as f:
                f.write(text)
            error = self.ctl_fails("config", "put", source)
            self.assertIn("refused, nothing was changed", error)
            self.assertIn(why, error)
            self.assertEqual(ctl("config", "get").stdout, before)
            response, _ = service.request("GET", "/get_wl_updates", b"",
                                          {"User-Host": "ws1", "startIndex": "0"})
            self.assertEqual(response.status, 200)
        for port in (1, 65535):
            with open(source, "wb") as f:
                f.write(config_text(port))
            self.ctl_ok("config", "put", source)
        self.assertEqual(self.ctl_ok("status"), "running\n")

    def test_put_applies_per_request_values_at_once_and_port_at_next_start(self):
        service = self.start_service()
        new_port = free_port()
        text = ("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<config>\r\n"
                "  <port>%d</port>\r\n  <common_whitelist_enabled>0</common_whitelist_enabled>"
                "\r\n</config>" % new_port).encode()
        source = os.path.join(self.home, "new.xml")
        with open(source, "wb") as f:
            f.write(text)
        self.ctl_ok("config", "put", source)
        with open(service.path("config.xml"), "rb") as f:
            self.assertEqual(f.read(), text)
        response, _ = service.request("GET", "/get_wl_updates", b"",
                                      {"User-Host": "ws1", "startIndex": "0"})
        self.assertEqual(response.status, 500)
        self.ctl_ok("stop")
        self.ctl_ok("start")
        service.port = new_port
        response, body = service.request("GET", "/version")
        self.assertEqual(body, b"1.0")

    def test_put_refuses_host_names_that_are_not_text(self):
        service = self.start_service()
        with open(service.path("config.xml"), "rb") as f:
            before = f.read()
        for host in (b"ws\x01", b"ws\xff", b"tab\there"):
            text = (b"<config><access_list><acl host=\"" + host +
                    b"\" enabled_get=\"1\"/></access_list></config>")
            source = os.path.join(self.home, "bad.xml")
            with open(source, "wb") as f:
                f.write(text)
            error = self.ctl_fails("config", "put", source)
            self.assertIn("without control characters", error)
            with open(service.path("config.xml"), "rb") as f:
                self.assertEqual(f.read(), before)
        code, _ = service.stop()
        self.assertEqual(code, 0)
        assert_well_formed(self, service.path("config.xml"))

    def test_put_refuses_a_malformed_address_entry_and_applies_a_valid_one(self):
        service = self.start_service()
        with open(service.path("config.xml"), "rb") as f:
            before = f.read()
        source = os.path.join(self.home, "acl.xml")
        with open(source, "wb") as f:
            f.write(b"<config><access_list><acl host=\"10.1.0.0/33\" enabled_get=\"1\"/>"
                    b"</access_list></config>")
        error = self.ctl_fails("config", "put", source)
        self.assertIn("\"10.1.0.0/33\" is not a valid address entry", error)
        self.assertIn("0 to 32", error)
        with open(service.path("config.xml"), "rb") as f:
            self.assertEqual(f.read(), before)
        # A valid address entry takes over at once: 127.0.0.1 is not in 10.1.0.0/16.
        with open(source, "wb") as f:
            f.write(b"<config><access_list><acl host=\"10.1.0.0/16\" enabled_get=\"1\" "
                    b"enabled_post=\"1\"/></access_list></config>")
        self.ctl_ok("config", "put", source)
        response, _ = service.request("POST", "/post_wl_updates", wl_record(1, 3),
                                      {"User-Host": "ws1", "startIndex": "57"})
        self.assertEqual(response.getheader("newIndex"), "57")

    def test_trusted_proxies_are_read_and_replaced_and_a_name_is_refused(self):
        service = self.start_service()
        self.assertEqual(self.ctl_ok("trusted-proxies"), "\n")
        self.assertEqual(self.ctl_ok("trusted-proxies", "set", "10.0.0.0/8,", "fd00::1"),
                         "10.0.0.0/8 fd00::1\n")
        with open(service.path("config.xml"), "rb") as f:
            written = f.read()
        self.assertIn(b"<trusted_proxies>10.0.0.0/8 fd00::1</trusted_proxies>", written)
        self.assertIn("trusted proxy \"proxy.example\"",
                      self.ctl_fails("trusted-proxies", "set", "proxy.example"))
        self.assertEqual(self.ctl_ok("trusted-proxies"), "10.0.0.0/8 fd00::1\n")
        # Trusted now, 127.0.0.1 must send a header first; without one it is refused.
        self.ctl_ok("trusted-proxies", "set", "127.0.0.1")
        with socket.create_connection(("127.0.0.1", service.port), timeout=30) as s:
            s.sendall(b"GET /version HTTP/1.1\r\nHost: x\r\n\r\n")
            self.assertTrue(s.recv(100).startswith(b"HTTP/1.1 500 Request failed"))
        self.ctl_ok("trusted-proxies", "set")
        self.assertIn(b"<config>", ctl("config", "get").stdout)
        with open(service.path("config.xml"), "rb") as f:
            self.assertNotIn(b"trusted_proxies", f.read())

    def test_held_host_name_that_is_not_text_is_kept_and_written_well_formed(self):
        service = Service(self.home)
        with open(service.path("config.xml"), "wb") as f:
            f.write(config_text(service.port).replace(
                b"</config>", b"<acl host=\"old\xff\x01\" enabled_get=\"0\" "
                              b"enabled_post=\"1\"/></config>"))
        self.service = service.start()
        code, _ = service.stop()
        self.assertEqual(code, 0)
        assert_well_formed(self, service.path("config.xml"))
        with open(service.path("config.xml"), "rb") as f:
            self.assertIn(b"<acl host_bytes=\"6f6c64ff01\" enabled_get=\"0\" "
                          b"enabled_post=\"1\"/>", f.read())

    def test_get_without_config_file_fails(self):
        service = self.start_service()
        os.remove(service.path("config.xml"))
        error = self.ctl_fails("config", "get")
        self.assertIn("config.xml", error)
        self.assertNotEqual(get_property("Config").returncode, 0)

    def test_put_of_missing_local_file_fails_before_calling(self):
        self.start_service()
        self.assertIn("could not read", self.ctl_fails("config", "put", "/nonexistent/c.xml"))


class StoresTest(ServiceTest):
    def test_statistics_of_empty_stores_are_eight_zero_bytes(self):
        self.start_service()
        self.assertEqual(get_property("Statistics").stdout.strip(), "ay 8 0 0 0 0 0 0 0 0")
        self.assertEqual(self.ctl_ok("stats"), "whitelist: 0\ntraining database: 0\n")

    def test_clearing_each_store(self):
        service = self.start_service()
        service.request("POST", "/post_wl_updates", wl_record(1, 1) + wl_record(1, 2),
                        {"User-Host": "ws1"})
        service.request("POST", "/post_ts_updates", descriptor(1, [9]), {"User-Host": "ws1"})
        self.assertEqual(get_property("Statistics").stdout.strip(), "ay 8 2 0 0 0 1 0 0 0")
        self.ctl_ok("clear-whitelist")
        self.assertEqual(self.ctl_ok("stats"), "whitelist: 0\ntraining database: 1\n")
        self.assertEqual(busctl("call", *OBJECT, "ClearTrainingDB").returncode, 0)
        self.assertEqual(self.ctl_ok("stats"), "whitelist: 0\ntraining database: 0\n")

    def test_config_folder_is_the_data_folder_with_final_slash(self):
        service = self.start_service()
        folder = service.folder + "/"
        self.assertEqual(self.ctl_ok("folder"), folder + "\n")
        self.assertEqual(get_property("ConfigFolder").stdout.strip(), 's "%s"' % folder)


class CtlTest(ServiceTest):
    def test_unreachable_service_names_the_bus_and_how_to_start(self):
        result = ctl("status")
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"session bus", result.stderr)
        self.assertIn(b"-Foreground", result.stderr)
        self.assertIn(b"-Service", result.stderr)

    def test_bus_comes_from_environment_when_not_given(self):
        self.start_service()
        env = dict(os.environ, VANTORSYNC_BUS="session")
        result = ctl("status", env=env, bus=None)
        self.assertEqual((result.returncode, result.stdout), (0, b"running\n"))

    def test_usage_errors_and_help(self):
        self.assertEqual(ctl("frobnicate").returncode, 2)
        self.assertEqual(ctl("config", "put").returncode, 2)
        self.assertEqual(ctl("--bus", "none", "status", bus=None).returncode, 2)
        result = ctl("--help", bus=None)
        self.assertEqual(result.returncode, 0)
        self.assertIn(b"clear-training-db", result.stdout)


class ModuleTest(ServiceTest):
    def run_program(self, *args, env_extra=None):
        env = dict(os.environ, XDG_CONFIG_HOME=self.home, HOME=self.home)
        env.update(env_extra or {})
        return subprocess.run([PROGRAMS["server"]] + list(args), capture_output=True, text=True, env=env,
                              timeout=60)

    def test_start_without_registration_exits_2_with_one_line(self):
        root = os.path.join(self.home, "root")
        result = self.run_program(env_extra={"VANTORSYNC_ROOT": root})
        self.assertEqual(result.returncode, 2)
        self.assertEqual(len(result.stderr.splitlines()), 1)
        self.assertIn("-Service", result.stderr)

    def test_registration_switches_write_and_remove_files(self):
        root = os.path.join(self.home, "root")
        env = {"VANTORSYNC_ROOT": root}
        activation = os.path.join(
            root, "usr/share/dbus-1/system-services/com.mailvane.VantorSyncSvc.service")
        policy = os.path.join(root, "usr/share/dbus-1/system.d/com.mailvane.VantorSyncSvc.conf")
        unit = os.path.join(root, "etc/systemd/system/VantorSyncSvc.service")
        program = os.path.realpath(PROGRAMS["server"])

        self.assertEqual(self.run_program("/service", env_extra=env).returncode, 0)
        with open(activation) as f:
            self.assertEqual(f.read(), "[D-BUS Service]\nName=com.mailvane.VantorSyncSvc\n"
                             "Exec=%s\nUser=vantorsync\nSystemdService=VantorSyncSvc.service\n" % program)
        with open(unit) as f:
            self.assertIn("ExecStart=%s\n" % program, f.read())
        self.assertTrue(os.path.exists(policy))

        self.assertEqual(self.run_program("-Service", "-regserver", env_extra=env).returncode, 0)
        with open(activation) as f:
            self.assertNotIn("SystemdService", f.read())
        self.assertFalse(os.path.exists(unit))

        self.assertEqual(self.run_program("-UnregServer", "-RegServer", env_extra=env).returncode,
                         0)
        for path in (activation, policy, unit):
            self.assertFalse(os.path.exists(path), path)

    def test_failing_registration_exits_nonzero_with_a_message(self):
        root = os.path.join(self.home, "root")
        with open(root, "w") as f:
            f.write("a file where the root folder should be")
        result = self.run_program("-RegServer", env_extra={"VANTORSYNC_ROOT": root})
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("Could not write", result.stderr)

    def test_no_management_with_bus_none(self):
        service = Service(self.home, bus="none").start(wait_for_bus=False)
        self.service = service
        self.assertIn("listening on port %d" % service.port, service.banner)
        self.assertIn("management interface switched off", service.proc.stdout.readline())
        self.assertFalse(name_on_bus())
        code, rest = service.stop()
        self.assertEqual(code, 0)
        self.assertIn("VantorSyncSvc: stopped", rest)

    def test_service_mode_notifies_systemd(self):
        root = os.path.join(self.home, "root")
        self.assertEqual(self.run_program("-Service", env_extra={"VANTORSYNC_ROOT": root})
                         .returncode, 0)
        notify_path = os.path.join(self.home, "notify")
        notify = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        notify.bind(notify_path)
        notify.settimeout(30)
        try:
            service = Service(self.home, root=root)
            # The private session bus stands in for the system bus.
            service.env["DBUS_SYSTEM_BUS_ADDRESS"] = os.environ["DBUS_SESSION_BUS_ADDRESS"]
            service.env["NOTIFY_SOCKET"] = notify_path
            self.service = service.start(args=())
            self.assertIn("listening on port %d" % service.port, service.banner)
            ready = notify.recv(4096).decode()
            self.assertIn("READY=1", ready.split("\n"))
            self.assertIn("STATUS=VantorSyncSvc: data folder", ready)
            response, body = service.request("GET", "/version")
            self.assertEqual(body, b"1.0")
            service.proc.send_signal(signal.SIGTERM)
            self.assertIn("STOPPING=1", notify.recv(4096).decode().split("\n"))
            code, rest = service.finish()
            self.assertEqual(code, 0)
            # config.xml is written back at every stop: the file held only the port, the
            # model in memory holds every value.
            with open(service.path("config.xml"), "rb") as f:
                written = f.read()
            self.assertNotEqual(written, config_text(service.port))
            self.assertIn(b"<port>%d</port>" % service.port, written)
            self.assertIn(b"<log_file_lifetime>10</log_file_lifetime>", written)
            assert_well_formed(self, service.path("config.xml"))
        finally:
            notify.close()

    def test_registered_service_started_by_hand_says_so_and_exits(self):
        root = os.path.join(self.home, "root")
        self.assertEqual(self.run_program("-Service", env_extra={"VANTORSYNC_ROOT": root})
                         .returncode, 0)
        env = dict(os.environ, XDG_CONFIG_HOME=self.home, HOME=self.home, VANTORSYNC_ROOT=root)
        for name in ("INVOCATION_ID", "NOTIFY_SOCKET"):
            env.pop(name, None)
        result = subprocess.run([PROGRAMS["server"]], capture_output=True, text=True, env=env, timeout=60)
        self.assertEqual(result.returncode, 2)
        self.assertIn("systemctl start VantorSyncSvc", result.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.home, "VantorSyncSvc", "config.xml")))


if __name__ == "__main__":
    PROGRAMS["server"], PROGRAMS["ctl"] = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
