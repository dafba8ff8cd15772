"""DeviceManager._parse_ip_range of zelvik.core.ostrel in plain Python."""
import ipaddress
from typing import List

from .codetext import check


def parse_ip_range(ip_range: str) -> List[str]:
    check("ip_range", str, ip_range)
    try:
        if "-" in ip_range:
            start_ip, end_ip = ip_range.split("-")
            start = ipaddress.IPv4Address(start_ip.strip())
            end = ipaddress.IPv4Address(end_ip.strip())
            ip_list = []
            current = start
            while current <= end:
                ip_list.append(str(current))
                current += 1
                if len(ip_list) > 254:
                    break
            return ip_list
        if "/" in ip_range:
            network = ipaddress.IPv4Network(ip_range, strict=False)
            return [str(ip) for ip in network.hosts()]
        return [ip_range.strip()]
    except Exception:
        return []
