#!/usr/bin/python3
"""The management system's side, for the tests: an independent AMQP client (pika).

  peer.py PORT get QUEUE COUNT TIMEOUT [IDLE]
      consumes up to COUNT messages from the durable QUEUE (acknowledged),
      one JSON line each: {"body", "correlation_id", "content_type"}; stops
      after TIMEOUT s, or IDLE s without a message once one came
  peer.py PORT rpc QUEUE BODY CORRID TIMEOUT
      publishes BODY to QUEUE (default exchange) with a private reply queue
      and prints the reply as one JSON line (nothing on time-out)
  peer.py PORT send EXCHANGE ROUTING_KEY BODY CORRID [REPLY_TO]
  peer.py PORT declare QUEUE [ARGUMENTS]
                                  declares the durable QUEUE (ARGUMENTS: a JSON
                                  object of queue arguments)
A BODY of the form big:N is a JSON-RPC request {"id": "big", ...} of N bytes.
A CORRID of the form hex:HEX is sent as those bytes; each printed line also
gives the correlation id's bytes in hexadecimal ("correlation_id_hex").
  peer.py PORT count QUEUE        prints the count of messages waiting
  peer.py PORT consumers QUEUE    prints the count of its consumers (0 when
                                  there is no such queue)
"""
import json
import sys
import time

import pika


def connect(port):
    params = pika.ConnectionParameters(host="127.0.0.1", port=int(port),
                                       credentials=pika.PlainCredentials("guest", "guest"),
                                       heartbeat=0, blocked_connection_timeout=30)
    return pika.BlockingConnection(params)


def corrid_arg(text):
    if text.startswith("hex:"):
        return bytes.fromhex(text[4:])
    return text


def body_arg(text):
    if text.startswith("big:"):
        size = int(text[4:])
        head = '{"id":"big","method":"vms-start","params":{"pad":"'
        return (head + "x" * max(0, size - len(head) - 3) + '"}}').encode()
    return text.encode()


def line(body, props):
    corr = props.correlation_id
    raw = corr if isinstance(corr, bytes) else (corr or "").encode("utf-8")
    if isinstance(corr, bytes):
        corr = corr.decode("utf-8", "replace")
    print(json.dumps({"body": body.decode("utf-8", "replace"),
                      "correlation_id": corr,
                      "correlation_id_hex": raw.hex(),
                      "content_type": props.content_type}), flush=True)


def main(argv):
    port, cmd = argv[1], argv[2]
    conn = connect(port)
    ch = conn.channel()
    if cmd == "get":
        queue, count, timeout = argv[3], int(argv[4]), float(argv[5])
        idle = float(argv[6]) if len(argv) > 6 else None
        ch.queue_declare(queue=queue, durable=True)
        ch.basic_qos(prefetch_count=500)
        got = 0
        end = time.time() + timeout
        last = None
        for method, props, body in ch.consume(queue, inactivity_timeout=0.2):
            if method is not None:
                line(body, props)
                ch.basic_ack(method.delivery_tag)
                got += 1
                last = time.time()
            if got >= count or time.time() > end:
                break
            if idle is not None and last is not None and time.time() - last > idle:
                break
        ch.cancel()
    elif cmd == "rpc":
        queue, body, corrid, timeout = argv[3], argv[4], corrid_arg(argv[5]), float(argv[6])
        reply = ch.queue_declare(queue="", exclusive=True).method.queue
        ch.basic_publish("", queue, body_arg(body),
                         pika.BasicProperties(correlation_id=corrid, reply_to=reply))
        end = time.time() + timeout
        for method, props, rbody in ch.consume(reply, inactivity_timeout=0.2):
            if method is not None:
                line(rbody, props)
                ch.basic_ack(method.delivery_tag)
                break
            if time.time() > end:
                break
        ch.cancel()
    elif cmd == "send":
        exchange, key, body, corrid = argv[3], argv[4], argv[5], corrid_arg(argv[6])
        props = pika.BasicProperties(correlation_id=corrid or None,
                                     reply_to=argv[7] if len(argv) > 7 and argv[7] else None)
        ch.basic_publish(exchange, key, body_arg(body), props)
    elif cmd == "declare":
        arguments = json.loads(argv[4]) if len(argv) > 4 else None
        ch.queue_declare(queue=argv[3], durable=True, arguments=arguments)
    elif cmd == "count":
        print(ch.queue_declare(queue=argv[3], passive=True).method.message_count)
    elif cmd == "consumers":
        try:
            print(ch.queue_declare(queue=argv[3], passive=True).method.consumer_count)
        except pika.exceptions.ChannelClosedByBroker:
            print(0)
    conn.close()


if __name__ == "__main__":
    main(sys.argv)
