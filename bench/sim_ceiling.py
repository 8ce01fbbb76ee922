#!/usr/bin/env python3
"""The register simulator's own ceiling with concurrent clients: N threads,
each with one keep-alive connection, post GetPerson for TOTAL/N numbers as
fast as the simulator answers. Prints "SECONDS REQUESTS_PER_SECOND".

    sim_ceiling.py ENDPOINT_URL CLIENTS TOTAL PERSONAL_NUMBER
"""
import http.client
import sys
import threading
import time
import urllib.parse

ENVELOPE = (
    '<?xml version="1.0" encoding="utf-8"?>'
    '<soap12:Envelope xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" '
    'xmlns:xsd="http://www.w3.org/2001/XMLSchema" xmlns:soap12="http://www.w3.org/2003/05/soap-envelope">'
    "<soap12:Body><GetPerson xmlns=\"http://popman.mirell.example/HCW/PopulationManager\">"
    "<login><UserName>demo</UserName><Password>demo</Password></login>"
    "<sPnr>{pnr}</sPnr><flagOtherArchive>false</flagOtherArchive></GetPerson></soap12:Body></soap12:Envelope>"
)
CONTENT_TYPE = ('application/soap+xml; charset=utf-8;'
                'action="http://popman.mirell.example/HCW/PopulationManager/GetPerson"')


def client(url: urllib.parse.SplitResult, count: int, body: bytes, failures: list) -> None:
    connection = http.client.HTTPConnection(url.hostname, url.port, timeout=60)
    for _ in range(count):
        connection.request("POST", url.path, body, {"Content-Type": CONTENT_TYPE})
        reply = connection.getresponse()
        reply.read()
        if reply.status != 200:
            failures.append(reply.status)
    connection.close()


def main() -> int:
    url = urllib.parse.urlsplit(sys.argv[1])
    clients, total, pnr = int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
    body = ENVELOPE.format(pnr=pnr).encode()
    failures: list = []
    threads = [threading.Thread(target=client, args=(url, total // clients, body, failures)) for _ in range(clients)]
    start = time.perf_counter()
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    seconds = time.perf_counter() - start
    if failures:
        print(f"{len(failures)} requests failed, e.g. status {failures[0]}", file=sys.stderr)
        return 1
    print(f"{seconds:.6f} {clients * (total // clients) / seconds:.1f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
