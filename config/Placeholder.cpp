// The configuration layer grows here.
