# -*- coding: utf-8 -*-
# Copyright: Vindle developers
# GNU General Public License v3.0+ (see https://www.gnu.org/licenses/gpl-3.0.txt)
"""Checks made before an update without sending anything to a box: the
file, the TFTP port on the site host and each box's configuration port."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import errno
import os
import socket
import struct

TFTP_PORT = 69
CONFIG_PORT = 1000
SIOCGIFADDR = 0x8915


def file_problem(path):
    if not os.path.exists(path):
        return '%s: no such file' % path
    if not os.path.isfile(path):
        return '%s: not a regular file' % path
    if not os.access(path, os.R_OK):
        return '%s: not readable' % path
    return None


def is_ipv4(text):
    try:
        socket.inet_aton(text)
    except (OSError, TypeError):
        return False
    return text.count('.') == 3


def adapter_address(adapter):
    """The IPv4 address to serve on: the adapter's address, or every
    address when no adapter is named or its address cannot be read."""
    if not adapter or adapter == 'all':
        return '0.0.0.0'
    if is_ipv4(adapter):
        return adapter
    import fcntl
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        request = struct.pack('256s', adapter[:15].encode())
        return socket.inet_ntoa(fcntl.ioctl(sock.fileno(), SIOCGIFADDR, request)[20:24])
    except OSError:
        return '0.0.0.0'
    finally:
        sock.close()


def tftp_port_problem(address):
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        sock.bind((address, TFTP_PORT))
    except OSError as e:
        if e.errno == errno.EADDRINUSE:
            return 'port 69 on %s is taken by another program' % address
        if e.errno == errno.EACCES:
            return 'port 69 on %s needs root or cap_net_bind_service' % address
        return 'port 69 on %s: %s' % (address, e.strerror)
    finally:
        sock.close()
    return None


def config_port_open(ip, timeout):
    try:
        sock = socket.create_connection((ip, CONFIG_PORT), timeout=timeout)
    except (OSError, socket.timeout):
        return False
    sock.close()
    return True


def probe_boxes(ips, timeout=3.0):
    """{ip: reachable} for the configuration port of every box, in parallel."""
    from concurrent.futures import ThreadPoolExecutor
    ips = list(ips)
    if not ips:
        return {}
    with ThreadPoolExecutor(max_workers=min(32, len(ips))) as pool:
        return dict(zip(ips, pool.map(lambda ip: config_port_open(ip, timeout), ips)))
