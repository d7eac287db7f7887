#!/usr/bin/python3
"""A tile server that misbehaves on purpose, for tests. Loopback only.

The first path segment picks the fault, the rest names the tile:
    /ok/12/2161/1432.png   a complete PNG of its own for every path
    /reset/...             Content-Length, half the body, then a connection reset
    /short/...             Content-Length, half the body, then a clean close
    /chunkcut/...          chunked, the body cut off without its last chunk
    /trickle/...           one byte a second
    /silent/...            accepts the request and never answers
    /429/... /503/...      Retry-After: ?after=N seconds (default 1), ?date=1 as an
                           HTTP date; ?times=K answers so K times per path, then ok
    /403/... /401/...      refused, with a text body that says why
    /html/... /xml/...     200 with an HTML page or a WMS service exception
    /htmlpng/...           200 with an HTML page labelled image/png
    /empty/...             200 with an empty body
    /huge/...              200 image/png, ?size=N bytes (default 400 MiB), announced;
    /hugenolength/...      the same without Content-Length (ended by closing);
                           ?raw=1 sends plain bytes as application/octet-stream
    /loop/...              302 to itself
    /gzip/...              the PNG gzip-encoded; /gzipbad/... a broken gzip stream
    /random/...            random bytes as image/png
    /halfpng/...           half the PNG, with a Content-Length that matches the half
Every request is logged ("GET /fault/rest") to the log file before it is answered.
The server ends when its standard input closes or after its lifetime."""

import argparse
import asyncio
import email.utils
import gzip
import hashlib
import os
import socket
import ssl
import struct
import sys
import threading
import time
import urllib.parse
import zlib

HALF_BLOCK = 64 * 1024
counts = {}


def png_for(path):
    """A small, complete, deterministic PNG for the path."""
    digest = hashlib.sha256(path.encode()).digest()
    width = height = 64
    rows = b''.join(b'\x00' + bytes(v for x in range(width)
                                     for v in (digest[(x + y) % 32] ^ x, digest[y % 32], (x * y) & 0xFF))
                    for y in range(height))

    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data) & 0xFFFFFFFF)

    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 2, 0, 0, 0))
            + chunk(b'IDAT', zlib.compress(rows)) + chunk(b'IEND', b''))


def head(status, reason, headers):
    lines = ['HTTP/1.1 %d %s' % (status, reason)] + ['%s: %s' % kv for kv in headers]
    return ('\r\n'.join(lines) + '\r\n\r\n').encode()


async def answer(fault, rest, query, writer, log):
    target = '/' + rest
    body = png_for(target)
    png = [('Content-Type', 'image/png')]

    async def send(data):
        writer.write(data)
        await writer.drain()

    if fault == 'ok':
        await send(head(200, 'OK', png + [('Content-Length', len(body))]) + body)
        return True
    if fault in ('reset', 'short'):
        await send(head(200, 'OK', png + [('Content-Length', len(body))]) + body[:len(body) // 2])
        if fault == 'reset':
            sock = writer.get_extra_info('socket')
            if sock is not None:
                sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack('ii', 1, 0))
        return False
    if fault == 'chunkcut':
        half = body[:len(body) // 2]
        await send(head(200, 'OK', png + [('Transfer-Encoding', 'chunked')]) + b'%x\r\n' % len(half) + half + b'\r\n')
        return False
    if fault == 'trickle':
        await send(head(200, 'OK', png + [('Content-Length', len(body))]))
        for i in range(len(body)):
            await send(body[i:i + 1])
            await asyncio.sleep(1.0)
        return False
    if fault == 'silent':
        await asyncio.sleep(3600)
        return False
    if fault in ('429', '503', '401', '403'):
        status = int(fault)
        times = int(query.get('times', ['1000000'])[0])
        key = (fault, target)
        counts[key] = counts.get(key, 0) + 1
        if counts[key] > times:
            await send(head(200, 'OK', png + [('Content-Length', len(body))]) + body)
            return True
        headers = [('Content-Type', 'text/plain; charset=utf-8')]
        if status in (429, 503):
            after = int(query.get('after', ['1'])[0])
            value = email.utils.formatdate(time.time() + after, usegmt=True) if 'date' in query else str(after)
            headers.append(('Retry-After', value))
            text = b'Too many requests. Please slow down.\n'
        else:
            text = b'Access blocked: this program sent too many requests.\nSee the tile usage policy.\n'
        reason = {401: 'Unauthorized', 403: 'Forbidden', 429: 'Too Many Requests', 503: 'Service Unavailable'}[status]
        await send(head(status, reason, headers + [('Content-Length', len(text))]) + text)
        return True
    if fault in ('html', 'htmlpng', 'xml'):
        if fault == 'xml':
            text = b'<?xml version="1.0"?><ServiceExceptionReport><ServiceException>bad</ServiceException></ServiceExceptionReport>'
            kind = 'application/vnd.ogc.se_xml'
        else:
            text = b'<!DOCTYPE html><html><body>Service busy</body></html>'
            kind = 'text/html' if fault == 'html' else 'image/png'
        await send(head(200, 'OK', [('Content-Type', kind), ('Content-Length', len(text))]) + text)
        return True
    if fault == 'empty':
        await send(head(200, 'OK', png + [('Content-Length', 0)]))
        return True
    if fault in ('huge', 'hugenolength'):
        size = int(query.get('size', [str(400 * 1024 * 1024)])[0])
        raw = 'raw' in query
        kind = [('Content-Type', 'application/octet-stream')] if raw else png
        headers = kind + ([('Content-Length', size)] if fault == 'huge' else [('Connection', 'close')])
        await send(head(200, 'OK', headers))
        block = b'x' * HALF_BLOCK if raw else body[:8] + b'\0' * (HALF_BLOCK - 8)
        sent = 0
        while sent < size:
            piece = block[:min(len(block), size - sent)]
            await send(piece)
            sent += len(piece)
            block = b'x' * HALF_BLOCK if raw else b'\0' * HALF_BLOCK
        return fault == 'huge'
    if fault == 'loop':
        await send(head(302, 'Found', [('Location', '/loop' + target), ('Content-Length', 0)]))
        return True
    if fault in ('gzip', 'gzipbad'):
        packed = gzip.compress(body)
        if fault == 'gzipbad':
            packed = packed[:10] + bytes(b ^ 0x5A for b in packed[10:])
        await send(head(200, 'OK', png + [('Content-Encoding', 'gzip'), ('Content-Length', len(packed))]) + packed)
        return True
    if fault == 'random':
        noise = hashlib.sha256(target.encode()).digest() * 64
        await send(head(200, 'OK', png + [('Content-Length', len(noise))]) + noise)
        return True
    if fault == 'halfpng':
        half = body[:len(body) // 2]
        await send(head(200, 'OK', png + [('Content-Length', len(half))]) + half)
        return True
    text = b'no such fault\n'
    await send(head(404, 'Not Found', [('Content-Type', 'text/plain'), ('Content-Length', len(text))]) + text)
    return True


def handler(log_path):
    async def handle(reader, writer):
        try:
            while True:
                request = await reader.readuntil(b'\r\n\r\n')
                line = request.split(b'\r\n', 1)[0].decode('latin-1')
                parts = line.split(' ')
                if len(parts) < 2:
                    break
                with open(log_path, 'a') as log:
                    log.write('%s %s\n' % (parts[0], parts[1]))
                url = urllib.parse.urlsplit(parts[1])
                segments = url.path.lstrip('/').split('/', 1)
                fault = segments[0]
                rest = segments[1] if len(segments) > 1 else ''
                if fault == 'loop' and rest.startswith('loop'):
                    rest = rest[4:].lstrip('/')
                keep = await answer(fault, rest, urllib.parse.parse_qs(url.query, keep_blank_values=True), writer, log_path)
                if not keep or b'connection: close' in request.lower():
                    break
        except (asyncio.IncompleteReadError, ConnectionError, asyncio.LimitOverrunError, ssl.SSLError):
            pass
        finally:
            try:
                writer.close()
            except Exception:
                pass
    return handle


async def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--port', type=int, required=True)
    parser.add_argument('--tls-port', type=int, default=0)
    parser.add_argument('--cert')
    parser.add_argument('--key')
    parser.add_argument('--log', required=True)
    parser.add_argument('--lifetime', type=int, default=1800)
    args = parser.parse_args()

    handle = handler(args.log)
    servers = [await asyncio.start_server(handle, '127.0.0.1', args.port)]
    if args.tls_port:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
        servers.append(await asyncio.start_server(handle, '127.0.0.1', args.tls_port, ssl=context))

    loop = asyncio.get_running_loop()
    stdin_closed = loop.create_future()

    def watch_stdin():
        try:
            while os.read(sys.stdin.fileno(), 4096):
                pass
        except OSError:
            pass
        loop.call_soon_threadsafe(lambda: stdin_closed.done() or stdin_closed.set_result(None))

    threading.Thread(target=watch_stdin, daemon=True).start()
    await asyncio.wait([stdin_closed], timeout=args.lifetime)
    for s in servers:
        s.close()


if __name__ == '__main__':
    asyncio.run(main())
